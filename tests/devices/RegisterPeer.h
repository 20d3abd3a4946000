#pragma once
// A small scripted controller for the read-out tests: holding registers answered by functions
// 3, 6 and 16, with the gas table registers (0x6000 on) banked by the table selector 0x5FFF, and
// hooks for the faults a test wants (an exception on one register, a read-back that disagrees).

#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "devices/ModbusCrc.h"
#include "devices/PtyPeer.h"

namespace moirex::testing {

class RegisterController {
public:
    static constexpr uint16_t kSelector = 0x5FFF;

    explicit RegisterController(uint8_t address = 1)
        : address_(address), peer_([this](const Bytes& rq) { return Answer(rq); }) {}

    const std::string& Path() const { return peer_.Path(); }

    void SetU16(uint16_t reg, uint16_t value, int table = 0) {
        std::lock_guard lock(mutex_);
        Bank(reg, table)[reg] = value;
    }
    void SetU32(uint16_t reg, uint32_t value, int table = 0) {
        SetU16(reg, static_cast<uint16_t>(value >> 16), table);
        SetU16(static_cast<uint16_t>(reg + 1), static_cast<uint16_t>(value), table);
    }
    void SetF32(uint16_t reg, float value, int table = 0) {
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        SetU32(reg, bits, table);
    }
    void SetText(uint16_t reg, const std::string& text, int registers, int table = 0) {
        std::string padded = text;
        padded.resize(static_cast<size_t>(registers) * 2, '\0');
        for (int i = 0; i < registers; ++i)
            SetU16(static_cast<uint16_t>(reg + i),
                   static_cast<uint16_t>(static_cast<uint8_t>(padded[2 * i]) << 8 | static_cast<uint8_t>(padded[2 * i + 1])),
                   table);
    }
    // For a read hook, which runs with the registers locked.
    void SetU16Unlocked(uint16_t reg, uint16_t value) { Bank(reg, 0)[reg] = value; }
    uint16_t Get(uint16_t reg, int table = 0) {
        std::lock_guard lock(mutex_);
        auto& bank = Bank(reg, table);
        auto it = bank.find(reg);
        return it == bank.end() ? 0 : it->second;
    }
    // Reads of this register get exception 2 (illegal data address).
    void Fail(uint16_t reg) {
        std::lock_guard lock(mutex_);
        failing_.insert(reg);
    }
    // What a read of a register gives instead of its stored value.
    void OnRead(std::function<uint16_t(uint16_t reg, uint16_t stored)> hook) {
        std::lock_guard lock(mutex_);
        readHook_ = std::move(hook);
    }
    std::vector<Bytes> Requests() const { return peer_.Requests(); }

private:
    std::map<uint16_t, uint16_t>& Bank(uint16_t reg, int table) {
        if (reg >= 0x6000) {
            int selected = table != 0 ? table : global_[kSelector];
            return tables_[selected];
        }
        return global_;
    }

    Bytes Answer(const Bytes& rq) {
        std::lock_guard lock(mutex_);
        if (rq.size() < 8 || !ModbusCrcValid(rq) || rq[0] != address_) return {};
        const uint16_t reg = static_cast<uint16_t>(rq[2] << 8 | rq[3]);
        Bytes answer;
        switch (rq[1]) {
            case 3: {
                const int count = rq[4] << 8 | rq[5];
                answer = {rq[0], 3, static_cast<uint8_t>(2 * count)};
                for (int i = 0; i < count; ++i) {
                    const auto r = static_cast<uint16_t>(reg + i);
                    if (failing_.count(r)) return Exception(rq, 2);
                    auto& bank = Bank(r, 0);
                    uint16_t v = bank.count(r) ? bank[r] : 0;
                    if (readHook_) v = readHook_(r, v);
                    answer.push_back(static_cast<uint8_t>(v >> 8));
                    answer.push_back(static_cast<uint8_t>(v));
                }
                break;
            }
            case 6:
                Bank(reg, 0)[reg] = static_cast<uint16_t>(rq[4] << 8 | rq[5]);
                return rq;
            case 16: {
                const int count = rq[4] << 8 | rq[5];
                for (int i = 0; i < count; ++i) {
                    const auto r = static_cast<uint16_t>(reg + i);
                    Bank(r, 0)[r] = static_cast<uint16_t>(rq[7 + 2 * i] << 8 | rq[8 + 2 * i]);
                }
                answer.assign(rq.begin(), rq.begin() + 6);
                break;
            }
            default: return Exception(rq, 1);
        }
        AppendModbusCrc(answer);
        return answer;
    }
    static Bytes Exception(const Bytes& rq, uint8_t code) {
        Bytes e = {rq[0], static_cast<uint8_t>(rq[1] | 0x80), code};
        AppendModbusCrc(e);
        return e;
    }

    uint8_t address_;
    std::mutex mutex_;
    std::map<uint16_t, uint16_t> global_;
    std::map<int, std::map<uint16_t, uint16_t>> tables_;
    std::set<uint16_t> failing_;
    std::function<uint16_t(uint16_t, uint16_t)> readHook_;
    ScriptedPeer peer_;  // last: its thread stops before the registers go
};

}  // namespace moirex::testing

#include "sim/MfcModel.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "devices/ModbusCrc.h"

namespace moirex::sim {

namespace {

constexpr double kNoiseCorrelation_s = 0.5;

uint16_t FloatWord(float value, bool high) {
    uint32_t bits = std::bit_cast<uint32_t>(value);
    return static_cast<uint16_t>(high ? bits >> 16 : bits & 0xFFFF);
}

// Texts travel two characters a register, first character in the high byte, padded with zero
// bytes to the field's length.
uint16_t TextWord(const std::string& text, unsigned index) {
    auto at = [&](unsigned i) -> uint8_t {
        return i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
    };
    return static_cast<uint16_t>(at(2 * index) << 8 | at(2 * index + 1));
}

float WordsToFloat(uint16_t high, uint16_t low) {
    return std::bit_cast<float>(static_cast<uint32_t>(high) << 16 | low);
}

std::vector<uint8_t> Exception(uint8_t address, uint8_t function, uint8_t code) {
    std::vector<uint8_t> answer{address, static_cast<uint8_t>(function | 0x80), code};
    AppendModbusCrc(answer);
    return answer;
}

}  // namespace

MfcModel::MfcModel(ControllerConfig config, bool noise, uint32_t seed)
    : config_(std::move(config)), noise_(noise), rng_(seed), active_(config_.ActiveTable),
      selected_(config_.ActiveTable) {}

const GasTable* MfcModel::Table(int number) const {
    for (const GasTable& t : config_.Tables)
        if (t.Number == number) return &t;
    return nullptr;
}

int MfcModel::ExpectedRequestLength(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2) return 0;
    switch (bytes[1]) {
        case 3:
        case 6:
            return 8;
        case 16:
            if (bytes.size() < 7) return 0;
            return 9 + bytes[6];
        default:
            return -1;
    }
}

double MfcModel::ToTotalizerUnit(double grams) const {
    const GasTable* t = Table(active_);
    if (!t) return grams;
    const std::string& u = t->TotalizerUnit;
    if (u == "ln" || u == "ln*" || u == "lnJ") return grams / t->DensityGPL;
    if (u == "mln" || u == "mln*" || u == "mlnJ") return grams / t->DensityGPL * 1000.0;
    if (u == "kg" || u == "kgJ") return grams / 1000.0;
    return grams;
}

float MfcModel::Flow() const {
    return static_cast<float>(std::max(0.0, lag_ + wobble_));
}

void MfcModel::Advance(double now_s) {
    if (!started_) {
        started_ = true;
        time_s_ = now_s;
        return;
    }
    double dt = now_s - time_s_;
    if (dt <= 0) return;
    time_s_ = now_s;

    const GasTable* t = Table(active_);
    double range = t ? t->RangeMax : 0.0;
    double minimum = t ? range / t->DynamicRange : 0.0;
    double target = std::clamp(static_cast<double>(setPoint_), 0.0, range);
    double sigma = 0;
    if (target > 0 && target < minimum) {
        // Below the lowest flow the table can hold the controller hunts around a wrong value.
        target *= bias_;
        sigma = 0.25 * minimum;
    } else if (target > 0) {
        sigma = 0.0002 * range + 0.0005 * target;  // about the accuracy of such a controller
    }

    // Exact first-order step: the lag and its integral over dt.
    double tau = config_.TimeConstant_s;
    double integral;  // g/min × s
    if (tau > 0) {
        double decay = std::exp(-dt / tau);
        integral = target * dt + (lag_ - target) * tau * (1 - decay);
        lag_ = target + (lag_ - target) * decay;
    } else {
        integral = target * dt;
        lag_ = target;
    }
    double oldWobble = wobble_;
    if (noise_ && sigma > 0) {
        double keep = std::exp(-dt / kNoiseCorrelation_s);
        std::normal_distribution<double> normal(0.0, 1.0);
        wobble_ = wobble_ * keep + sigma * std::sqrt(1 - keep * keep) * normal(rng_);
    } else {
        wobble_ = 0;
    }
    integral += 0.5 * (oldWobble + wobble_) * dt;
    if (setPoint_ <= 0 && lag_ < 1e-6 * range) {
        lag_ = 0;  // valve shut
        wobble_ = 0;
    }
    double grams = std::max(0.0, integral) / 60.0;
    mass_g_ += grams;
    totalizer_ += ToTotalizerUnit(grams);
}

void MfcModel::NewSetPoint(float value) {
    setPoint_ = value;
    std::uniform_real_distribution<double> spread(0.6, 1.4);
    bias_ = noise_ ? spread(rng_) : 1.0;
}

uint8_t MfcModel::ReadRegister(uint16_t a, uint16_t& v) const {
    switch (a) {
        case 0x0000: case 0x0001: v = FloatWord(Flow(), a == 0x0000); return 0;
        case 0x0004: case 0x0005: v = FloatWord(Totalizer(), a == 0x0004); return 0;
        case 0x0006: case 0x0007: v = FloatWord(setPoint_, a == 0x0006); return 0;
        case 0x000C: v = config_.Register12; return 0;
        case 0x001E: v = static_cast<uint16_t>(config_.Serial >> 16); return 0;
        case 0x001F: v = static_cast<uint16_t>(config_.Serial & 0xFFFF); return 0;
        case 0x0034: v = register52_; return 0;
        case 0x404F: v = register404F_; return 0;
        case 0x4139: v = static_cast<uint16_t>(active_); return 0;
        case 0x5FFF: v = static_cast<uint16_t>(selected_); return 0;
        default: break;
    }
    if (a >= 0x0023 && a < 0x0023 + 4) {
        v = TextWord(config_.TypeText, a - 0x0023);
        return 0;
    }
    // The block that describes the selected gas table; a table number without a table reads
    // zeros, so its names come back empty.
    static const GasTable kNone{0, "", "", "", 0, 0, 0, "", 0};
    const GasTable* found = Table(selected_);
    const GasTable& t = found ? *found : kNone;
    if (a == 0x6020 || a == 0x6021) v = FloatWord(t.RangeMax, a == 0x6020);
    else if (a >= 0x6022 && a < 0x6022 + 25) v = TextWord(t.NameCustom, a - 0x6022);
    else if (a >= 0x6042 && a < 0x6042 + 4) v = TextWord(t.NameShort, a - 0x6042);
    else if (a >= 0x6046 && a < 0x6046 + 4) v = TextWord(t.UnitType, a - 0x6046);
    else if (a == 0x604E || a == 0x604F) v = FloatWord(t.DensityGPL, a == 0x604E);
    else if (a == 0x6122) v = t.DynamicRange;
    else if (a == 0x6384 || a == 0x6385) v = FloatWord(t.TotalizerScaling, a == 0x6384);
    else if (a >= 0x6386 && a < 0x6386 + 4) v = TextWord(t.TotalizerUnit, a - 0x6386);
    else return kIllegalDataAddress;
    return 0;
}

uint8_t MfcModel::WriteRegisters(uint16_t a, std::span<const uint16_t> w, double now_s) {
    auto single = [&](uint16_t& field) -> uint8_t {
        if (w.size() != 1) return kIllegalDataAddress;
        field = w[0];
        return 0;
    };
    switch (a) {
        case 0x0006: {
            if (w.size() != 2) return kIllegalDataAddress;
            if (RefuseSetPoint) return kSlaveDeviceFailure;
            float value = WordsToFloat(w[0], w[1]);
            if (!std::isfinite(value) || value < 0) return kIllegalDataValue;
            Advance(now_s);
            NewSetPoint(value);
            return 0;
        }
        case 0x0004: {
            // The totalizer may be preset (usually to 0).
            if (w.size() != 2) return kIllegalDataAddress;
            float value = WordsToFloat(w[0], w[1]);
            if (!std::isfinite(value)) return kIllegalDataValue;
            Advance(now_s);
            totalizer_ = value;
            return 0;
        }
        case 0x0034: return single(register52_);
        case 0x404F: return single(register404F_);
        case 0x4139: {
            if (w.size() != 1) return kIllegalDataAddress;
            if (!Table(w[0])) return kIllegalDataValue;
            Advance(now_s);  // the flow so far counts in the old table's unit
            active_ = w[0];
            return 0;
        }
        case 0x5FFF: {
            if (w.size() != 1) return kIllegalDataAddress;
            if (w[0] < 2 || w[0] > 11) return kIllegalDataValue;
            selected_ = w[0];
            return 0;
        }
        case 0x6022: {
            // The selected table's free-text name.
            GasTable* t = nullptr;
            for (GasTable& g : config_.Tables)
                if (g.Number == selected_) t = &g;
            if (!t) return kIllegalDataValue;
            if (w.size() > 25) return kIllegalDataAddress;
            std::string text;
            for (uint16_t word : w) {
                text.push_back(static_cast<char>(word >> 8));
                text.push_back(static_cast<char>(word & 0xFF));
            }
            while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
            t->NameCustom = text;
            return 0;
        }
        default:
            // A register that only reads is as foreign to a write as an unknown one.
            return kIllegalDataAddress;
    }
}

std::vector<uint8_t> MfcModel::Handle(std::span<const uint8_t> frame, double now_s) {
    if (frame.size() < 4 || !ModbusCrcValid(frame)) return {};
    uint8_t address = frame[0];
    if (address != 0 && address != config_.Address) return {};
    ++requests_;
    bool broadcast = address == 0;
    uint8_t function = frame[1];
    auto reply = [&](std::vector<uint8_t> answer) { return broadcast ? std::vector<uint8_t>{} : answer; };
    auto fail = [&](uint8_t code) { return reply(Exception(config_.Address, function, code)); };
    auto word = [&](size_t i) { return static_cast<uint16_t>(frame[i] << 8 | frame[i + 1]); };

    switch (function) {
        case 3: {
            if (frame.size() != 8) return fail(kIllegalDataValue);
            if (broadcast) return {};
            uint16_t start = word(2), count = word(4);
            if (count < 1 || count > 125) return fail(kIllegalDataValue);
            if (start + count > 0x10000) return fail(kIllegalDataAddress);
            Advance(now_s);
            std::vector<uint8_t> answer{config_.Address, 3, static_cast<uint8_t>(2 * count)};
            for (unsigned i = 0; i < count; ++i) {
                uint16_t v = 0;
                if (uint8_t code = ReadRegister(static_cast<uint16_t>(start + i), v)) return fail(code);
                answer.push_back(static_cast<uint8_t>(v >> 8));
                answer.push_back(static_cast<uint8_t>(v & 0xFF));
            }
            AppendModbusCrc(answer);
            return answer;
        }
        case 6: {
            if (frame.size() != 8) return fail(kIllegalDataValue);
            uint16_t value = word(4);
            if (uint8_t code = WriteRegisters(word(2), std::span<const uint16_t>(&value, 1), now_s))
                return fail(code);
            std::vector<uint8_t> echo(frame.begin(), frame.end());
            echo[0] = config_.Address;
            return reply(echo);
        }
        case 16: {
            if (frame.size() < 9) return fail(kIllegalDataValue);
            uint16_t start = word(2), count = word(4);
            uint8_t bytes = frame[6];
            if (count < 1 || count > 123 || bytes != 2 * count || frame.size() != 9u + bytes)
                return fail(kIllegalDataValue);
            std::vector<uint16_t> values;
            for (unsigned i = 0; i < count; ++i) values.push_back(word(7 + 2 * i));
            if (uint8_t code = WriteRegisters(start, values, now_s)) return fail(code);
            std::vector<uint8_t> answer{config_.Address, 16, frame[2], frame[3], frame[4], frame[5]};
            AppendModbusCrc(answer);
            return reply(answer);
        }
        default:
            return fail(kIllegalFunction);
    }
}

}  // namespace moirex::sim

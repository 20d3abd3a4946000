#pragma once
// Helpers of the emulator tests: a private runtime folder, an emulator on a test clock, and a raw
// client that opens the port for every exchange as the system's drivers do.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "sim/Emulator.h"
#include "support/Clock.h"

namespace moirex::sim::testing {

inline std::string MakeTempFolder() {
    char pattern[] = "/tmp/moirex-sim-test-XXXXXX";
    char* made = ::mkdtemp(pattern);
    if (!made) throw std::runtime_error("mkdtemp failed");
    return std::string(made) + "/links";  // a missing folder, made by the emulator
}

// Opens the port raw, writes `request`, collects what arrives until `until` bytes are there or
// `quietMs` pass without a byte, closes. Returns the bytes.
inline std::vector<uint8_t> Exchange(const std::string& port, const std::vector<uint8_t>& request,
                                     size_t until = 0, int quietMs = 150, bool untilLf = false) {
    int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return {};
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    std::vector<uint8_t> answer;
    if (!request.empty() && ::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return {};
    }
    for (;;) {
        if (until && answer.size() >= until) break;
        if (untilLf && !answer.empty() && answer.back() == '\n') break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN)) break;
        uint8_t b[256];
        ssize_t n = ::read(fd, b, sizeof b);
        if (n <= 0) break;
        answer.insert(answer.end(), b, b + n);
    }
    ::close(fd);
    return answer;
}

// A pump exchange: "/1" + command + CR; the answer up to its LF, as text.
inline std::string PumpExchange(const std::string& port, const std::string& command) {
    std::string frame = "/1" + command + "\r";
    std::vector<uint8_t> a = Exchange(port, std::vector<uint8_t>(frame.begin(), frame.end()), 0, 300, true);
    return std::string(a.begin(), a.end());
}

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override { Start(); }
    void TearDown() override {
        sim.reset();
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::path(folder).parent_path(), ec);
    }
    void Start(EmulatorOptions o = {}) {
        if (folder.empty()) folder = MakeTempFolder();
        o.RuntimeFolder = folder;
        o.Paced = paced;
        o.PhysicsClock = &clock;
        o.Noise = false;
        sim.reset();
        sim = std::make_unique<Emulator>(std::move(o));
    }
    std::string Port(Instrument i) const { return sim->PortPath(i); }

    bool paced = false;
    ManualClock clock;
    std::string folder;
    std::unique_ptr<Emulator> sim;
};

}  // namespace moirex::sim::testing

// Round trip of one float read (register 0, two registers) from an emulated controller: this
// system's driver through the line owner of a claimed port (the port held open, as during a run),
// the same driver without a claim (open, configure, write, read, close for every read), and
// libmodbus's modbus_read_registers on the same emulator (port held open), every read spaced by
// t3.5 outside the time measured; paced at 9600 baud and unpaced. The wire-time limit is what the two frames take on a 9600 baud 8N2 line with the t3.5
// of silence the controller keeps before it answers; after the answer the driver keeps t3.5 more
// (the frame's end, and the line's silence before the next request), shown beside it.

#include <modbus/modbus.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/PortClaim.h"
#include "devices/SerialPortVogtlin.h"
#include "sim/Emulator.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    std::vector<double> ms;
    int failures = 0;
};

void Print(const char* what, const Figures& f) {
    if (f.ms.empty()) {
        std::printf("  %-34s no successful read (%d failed)\n", what, f.failures);
        return;
    }
    std::vector<double> s = f.ms;
    std::sort(s.begin(), s.end());
    double sum = 0;
    for (double v : s) sum += v;
    std::printf("  %-34s mean %7.2f  median %7.2f  min %7.2f  max %7.2f ms  (%zu reads, %d failed)\n", what,
                sum / static_cast<double>(s.size()), s[s.size() / 2], s.front(), s.back(), s.size(), f.failures);
}

double Median(const Figures& f) {
    std::vector<double> s = f.ms;
    std::sort(s.begin(), s.end());
    return s[s.size() / 2];
}

Figures DriverReads(const std::string& port, int count) {
    Figures f;
    moirex::TVogtlinPort driver;
    driver.UseControllerSettings(port);
    for (int i = 0; i < count; ++i) {
        ::usleep(4100);  // as libmodbus's reads below: the line's t3.5 before the next request
        auto start = Clock::now();
        moirex::TSerialResponse r = driver.ReadF32(1, 0);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (r.Status.empty() && std::isfinite(r.AsFloat)) f.ms.push_back(ms);
        else ++f.failures;
    }
    return f;
}

Figures LibmodbusReads(const std::string& port, int count) {
    Figures f;
    modbus_t* ctx = modbus_new_rtu(port.c_str(), 9600, 'N', 8, 2);
    if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        std::printf("  libmodbus could not open %s: %s\n", port.c_str(), modbus_strerror(errno));
        if (ctx) modbus_free(ctx);
        f.failures = count;
        return f;
    }
    uint16_t regs[2];
    for (int i = 0; i < count; ++i) {
        // libmodbus sends its next request as soon as it has the answer; a controller (and the
        // paced emulator) hears no request before the line has been quiet for t3.5, so the
        // reads are spaced by it, outside the time measured.
        ::usleep(4100);
        auto start = Clock::now();
        int rc = modbus_read_registers(ctx, 0, 2, regs);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (rc == 2) f.ms.push_back(ms);
        else ++f.failures;
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return f;
}

void Run(bool paced, int count) {
    moirex::sim::EmulatorOptions o;
    o.RuntimeFolder = (std::filesystem::temp_directory_path() /
                       ("moirex-bench-" + std::to_string(::getpid()) + (paced ? "-paced" : "-unpaced")))
                          .string();
    o.Paced = paced;
    moirex::sim::Emulator emulator(o);
    const std::string port = emulator.PortPath(moirex::sim::Instrument::MfcA);
    std::printf("%s emulator (%s):\n", paced ? "Paced" : "Unpaced", port.c_str());
    Figures owned;
    {
        moirex::TMixerClaim claim("modbus_roundtrip");
        const std::string refused = claim.Claim({port});
        if (!refused.empty()) throw std::runtime_error(refused);
        owned = DriverReads(port, count);
    }
    Print("TVogtlinPort::ReadF32, line owner", owned);
    Print("TVogtlinPort::ReadF32, open per read", DriverReads(port, count));
    const Figures lib = LibmodbusReads(port, count);
    Print("libmodbus modbus_read_registers", lib);
    if (!owned.ms.empty() && !lib.ms.empty())
        std::printf("  line owner / libmodbus (medians)   %.3f\n", Median(owned) / Median(lib));
    emulator.Stop();
    std::filesystem::remove_all(o.RuntimeFolder);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    // Request 8 bytes, t3.5, answer 9 bytes; 11 bits a byte for 8N2 at 9600 baud.
    const double charMs = 11 * 1000.0 / 9600.0;
    const double wireMs = (8 + 3.5 + 9) * charMs;
    std::printf("Float read round trip, %d reads each; wire-time limit at 9600 baud 8N2: request, t3.5, answer "
                "%.2f ms (with the t3.5 that ends the answer: %.2f ms)\n\n",
                count, wireMs, wireMs + 3.5 * charMs);
    try {
        Run(true, count);
        std::printf("\n");
        Run(false, count);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "modbus_roundtrip: %s\n", e.what());
        return 1;
    }
    return 0;
}

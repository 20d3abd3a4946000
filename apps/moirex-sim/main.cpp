// moirex-sim: the two mass flow controllers and the syringe pump of the mixer, emulated on
// pseudo-terminals, for trying the program and its tools without the instruments. Fault commands
// come in on standard input, one a line.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "sim/Emulator.h"
#include "support/Version.h"

namespace {

std::atomic<bool> gQuit{false};

void OnSignal(int) { gQuit = true; }

const char* kUsage =
    "Usage: moirex-sim [options]\n"
    "Emulates mass flow controllers A and B (Modbus RTU, addresses 1 and 2) and the syringe pump\n"
    "on pseudo-terminals, published as links mfc-a, mfc-b and pump in the runtime folder.\n"
    "  --no-pace          answer at once instead of at 9600 baud\n"
    "  --speed N          flow physics and pump timing N times faster than real time\n"
    "  --pump-type 50|75  answer of the pump type query (75: the older pump)\n"
    "  --syringe-ul V     syringe volume in microlitres (default 12.5)\n"
    "  --tables FILE      gas tables of the controllers from a JSON file\n"
    "  --status FILE      keep a JSON file with the true state of every instrument\n"
    "  --runtime-dir DIR  publish the links in DIR instead of the default folder\n"
    "  --no-noise         exact flows, without noise\n"
    "  --seed N           seed of the noise\n"
    "  --help             this text\n"
    "  --version          the program's version\n";

[[noreturn]] void Usage(const std::string& message) {
    std::cerr << "moirex-sim: " << message << "\n" << kUsage;
    std::exit(2);
}

double Number(const std::string& option, const char* text) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0) Usage(option + " needs a number, not \"" + text + "\"");
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace moirex::sim;
    EmulatorOptions options;
    std::string tables;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--version") {
            std::cout << moirex::VersionLine("moirex-sim") << "\n";
            return 0;
        } else if (a == "--no-pace") {
            options.Paced = false;
        } else if (a == "--no-noise") {
            options.Noise = false;
        } else if (a == "--speed") {
            options.TimeScale = Number(a, value());
            if (!(options.TimeScale > 0) || options.TimeScale > 1e6) Usage("--speed takes a number above 0, at most 1000000");
        } else if (a == "--pump-type") {
            double t = Number(a, value());
            if (t != 50 && t != 75) Usage("--pump-type is 50 or 75");
            options.PumpType = static_cast<int>(t);
        } else if (a == "--syringe-ul") {
            options.SyringeVolume_ul = Number(a, value());
            if (!(options.SyringeVolume_ul > 0)) Usage("--syringe-ul takes a volume above 0");
        } else if (a == "--seed") {
            options.Seed = static_cast<uint32_t>(Number(a, value()));
        } else if (a == "--tables") {
            tables = value();
        } else if (a == "--status") {
            options.StatusFile = value();
        } else if (a == "--runtime-dir") {
            options.RuntimeFolder = value();
        } else {
            Usage("unknown option " + a);
        }
    }

    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTTIN, SIG_IGN);  // started in the background: no commands, but no stop either
    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    try {
        if (!tables.empty()) LoadControllers(tables, options.ControllerA, options.ControllerB);
        Emulator emulator(options);

        std::cout << "moirex-sim: instruments ready, "
                  << (options.Paced ? "paced at 9600 baud" : "unpaced");
        if (options.TimeScale != 1) std::cout << ", time " << options.TimeScale << " times faster";
        std::cout << "\n";
        for (Instrument i : {Instrument::MfcA, Instrument::MfcB, Instrument::Pump}) {
            std::string device = i == Instrument::Pump ? emulator.Pump().Device : emulator.Mfc(i).Device;
            std::cout << "  " << emulator.PortPath(i) << " -> " << device;
            if (i == Instrument::Pump) {
                std::cout << "  syringe pump, type " << options.PumpType << ", " << options.SyringeVolume_ul << " ul\n";
            } else {
                const ControllerConfig& c = i == Instrument::MfcA ? options.ControllerA : options.ControllerB;
                std::cout << "  MFC " << (i == Instrument::MfcA ? "A" : "B") << ", Modbus address " << int(c.Address)
                          << ", gases";
                for (const GasTable& t : c.Tables) std::cout << " " << t.Number << ":" << t.NameShort << "(" << t.TotalizerUnit << ")";
                std::cout << "\n";
            }
        }
        if (!options.StatusFile.empty()) std::cout << "  status file " << options.StatusFile << "\n";
        std::cout << "Type help for the fault commands, quit to end." << std::endl;

        bool commands = true;
        std::string line;
        while (!gQuit) {
            if (!commands) {
                ::poll(nullptr, 0, 250);
                continue;
            }
            pollfd in{STDIN_FILENO, POLLIN, 0};
            int n = ::poll(&in, 1, 250);
            if (n <= 0) continue;
            char buffer[1024];
            ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                if (got < 0 && errno == EINTR) continue;
                // End of input typed at a terminal ends the emulator; input that is no terminal
                // (a background start) only ends the commands, and a signal ends the emulator.
                if (::isatty(STDIN_FILENO)) break;
                commands = false;
                continue;
            }
            line.append(buffer, static_cast<size_t>(got));
            size_t nl;
            while ((nl = line.find('\n')) != std::string::npos) {
                std::string command = line.substr(0, nl);
                line.erase(0, nl + 1);
                while (!command.empty() && (command.back() == '\r' || command.back() == ' ')) command.pop_back();
                if (command == "quit" || command == "exit") {
                    gQuit = true;
                    break;
                }
                try {
                    std::cout << emulator.Command(command) << std::flush;
                } catch (const std::exception& e) {
                    std::cout << "error: " << e.what() << std::endl;
                }
            }
        }
        std::cout << "moirex-sim: stopping, links removed" << std::endl;
        emulator.Stop();
    } catch (const std::exception& e) {
        std::cerr << "moirex-sim: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}

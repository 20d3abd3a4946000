#pragma once
// A fixture that runs the built moirexctl against the instrument emulator (unpaced, time-scaled):
// moirexctl run on a one-segment program, in a scratch home folder, its output in a file.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/Emulator.h"
#include "sim/QuickEmulator.h"

namespace moirexctl_test {

namespace fs = std::filesystem;
using moirex::sim::Instrument;

class MoirexctlRunTest : public ::testing::Test {
protected:
    MoirexctlRunTest()
        : work(fs::temp_directory_path() / ("moirex-ctl-run-" + std::to_string(::getpid()) + "-" + Unique())),
          emulator(Options(work)) {
        fs::create_directories(work / "home");
    }
    ~MoirexctlRunTest() override {
        emulator.Stop();
        std::error_code ec;
        fs::remove_all(work, ec);
    }

    static std::string Unique() {
        static int n = 0;
        return std::to_string(n++);
    }
    static moirex::sim::EmulatorOptions Options(const fs::path& work) {
        return moirex::testing_sim::QuickEmulator((work / "ports").string(), 20);
    }

    // Starts moirexctl run on a program of one segment of `hours`.
    void Start(double hours, std::vector<std::string> extra = {}) {
        const fs::path program = work / "program.csv";
        std::ofstream(program) << "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm\nA and B," << hours
                               << ",10000,20000,0\n";
        output = work / "output.txt";
        std::vector<std::string> args = {"run", program.string()};
        for (const std::string& o : InstrumentOptions()) args.push_back(o);
        args.insert(args.end(), extra.begin(), extra.end());
        pid = Spawn(args, output);
        ASSERT_GE(pid, 0);
    }

    // Starts moirexctl with `args` (after the program's name) in the scratch home folder, its
    // standard output and error to `outputFile`; its process id.
    pid_t Spawn(std::vector<std::string> args, const fs::path& outputFile) const {
        args.insert(args.begin(), MOIREXCTL_PATH);
        const std::string home = (work / "home").string();
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("MOIREX_HOME", home.c_str(), 1);
            FILE* out = std::freopen(outputFile.c_str(), "w", stdout);
            if (out == nullptr || ::dup2(STDOUT_FILENO, STDERR_FILENO) < 0) ::_exit(127);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        return child;
    }

    // True once `done` holds, polled until `seconds` have passed.
    static bool Within(double seconds, const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    bool GasAFlowing() const { return emulator.Mfc(Instrument::MfcA).SetPoint > 0; }

    // The exit status, or -1 when it did not end in time (it is then killed).
    int ExitStatus(double seconds = 60) { return ExitStatusOf(pid, seconds); }

    // The same for any child; a signal's end is 1000 + the signal.
    static int ExitStatusOf(pid_t child, double seconds = 60) {
        int status = 0;
        const bool ended = Within(seconds, [&] { return ::waitpid(child, &status, WNOHANG) == child; });
        if (!ended) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
        return WEXITSTATUS(status);
    }

    static std::string ReadText(const fs::path& file) {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // The options that name the emulator's ports and gas tables 3 and 2, the question answered Yes.
    std::vector<std::string> InstrumentOptions() const {
        return {"--pump", emulator.PortPath(Instrument::Pump), "--mfc-a", emulator.PortPath(Instrument::MfcA),
                "--mfc-b", emulator.PortPath(Instrument::MfcB), "--gas-a", "3", "--gas-b", "2", "--yes"};
    }

    std::string Output() const {
        std::ifstream in(output);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    bool EveryFlowStopped() const {
        return Within(5, [&] {
            return emulator.Mfc(Instrument::MfcA).SetPoint == 0 && emulator.Mfc(Instrument::MfcB).SetPoint == 0 &&
                   !emulator.Pump().Busy;
        });
    }

    // The window's configuration file (moirexctl shares it) with these lines.
    void WriteIni(const std::string& lines) const {
        for (const char* name : {"moirex.ini", "moirexctl.ini"}) std::ofstream(work / "home" / name) << lines;
    }

    // Runs moirexctl with `args` to its end; its status and output (stdout and stderr).
    std::pair<int, std::string> RunToEnd(const std::vector<std::string>& args) const {
        const fs::path out = work / "output-2.txt";
        const pid_t child = Spawn(args, out);
        int status = 0;
        ::waitpid(child, &status, 0);
        std::ifstream in(out);
        std::stringstream text;
        text << in.rdbuf();
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 1000, text.str()};
    }

    std::vector<std::string> SetupArgs() const {
        return {"setup", "--pump", emulator.PortPath(Instrument::Pump), "--mfc-a", emulator.PortPath(Instrument::MfcA),
                "--mfc-b", emulator.PortPath(Instrument::MfcB)};
    }

    fs::path work;
    moirex::sim::Emulator emulator;
    fs::path output;
    pid_t pid = -1;
};

}  // namespace moirexctl_test

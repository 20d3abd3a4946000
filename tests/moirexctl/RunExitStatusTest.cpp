// moirexctl run as a program: its exit statuses, run by the built binary against the instrument
// emulator (unpaced, time-scaled), so that a script can tell a completed run from an interrupted
// one, a refused Start and a stop that could not be confirmed.

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

namespace {

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
        moirex::sim::EmulatorOptions o;
        o.RuntimeFolder = (work / "ports").string();
        o.Paced = false;
        o.Noise = false;
        o.TimeScale = 20;
        return o;
    }

    // Starts moirexctl run on a program of one segment of `hours`.
    void Start(double hours, std::vector<std::string> extra = {}) {
        const fs::path program = work / "program.csv";
        std::ofstream(program) << "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm\nA and B," << hours
                               << ",10000,20000,0\n";
        output = work / "output.txt";
        std::vector<std::string> args = {MOIREXCTL_PATH, "run", program.string(),
                                         "--pump", emulator.PortPath(Instrument::Pump),
                                         "--mfc-a", emulator.PortPath(Instrument::MfcA),
                                         "--mfc-b", emulator.PortPath(Instrument::MfcB),
                                         "--gas-a", "3", "--gas-b", "2", "--yes"};
        args.insert(args.end(), extra.begin(), extra.end());
        const std::string home = (work / "home").string();
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::setenv("MOIREX_HOME", home.c_str(), 1);
            FILE* out = std::freopen(output.c_str(), "w", stdout);
            if (out == nullptr || ::dup2(STDOUT_FILENO, STDERR_FILENO) < 0) ::_exit(127);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
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
    int ExitStatus(double seconds = 60) {
        int status = 0;
        const bool ended = Within(seconds, [&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
        return WEXITSTATUS(status);
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

    fs::path work;
    moirex::sim::Emulator emulator;
    fs::path output;
    pid_t pid = -1;
};

TEST_F(MoirexctlRunTest, ProgramRunToItsEndExitsZero) {
    Start(0.0005);
    EXPECT_EQ(ExitStatus(), 0) << Output();
    EXPECT_TRUE(EveryFlowStopped());
}

// A stop on a signal, every flow confirmed stopped: 128 + the signal's number, as shells report.
TEST_F(MoirexctlRunTest, StopOnASignalExitsWith128PlusTheSignal) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        Start(1);
        ASSERT_TRUE(Within(60, [&] { return GasAFlowing(); })) << Output();
        ::kill(pid, signal);
        EXPECT_EQ(ExitStatus(), 128 + signal) << Output();
        EXPECT_TRUE(EveryFlowStopped());
    }
}

TEST_F(MoirexctlRunTest, RefusedStartExitsOneWithNoFlowStarted) {
    // Start writes its recipe first; a file where the Userdata folder belongs refuses it.
    std::ofstream(work / "home" / "Userdata") << "not a folder";
    Start(1);
    EXPECT_EQ(ExitStatus(), 1) << Output();
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.0f);
    EXPECT_NE(Output().find("the run did not start"), std::string::npos) << Output();
}

TEST_F(MoirexctlRunTest, StopThatCannotBeConfirmedExitsFour) {
    Start(1, {"--stop-retry-s", "1"});
    ASSERT_TRUE(Within(60, [&] { return GasAFlowing(); })) << Output();
    emulator.SetRefuseSetPoint(Instrument::MfcB, true);
    ::kill(pid, SIGINT);
    EXPECT_EQ(ExitStatus(), 4) << Output();
    EXPECT_NE(Output().find("  MFC B stopped: False"), std::string::npos) << Output();
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.0f);
}

// MFC B silent for longer than the outage limit (1 s from the configuration file): the run stops
// by itself; B listens again in time for the stop procedure, which confirms every flow stopped.
TEST_F(MoirexctlRunTest, OutageLimitStopExitsFive) {
    for (const char* name : {"moirex.ini", "moirexctl.ini"})
        std::ofstream(work / "home" / name) << "[Run]\r\nOutage stop s=1\r\n";
    Start(1);
    ASSERT_TRUE(Within(60, [&] { return GasAFlowing(); })) << Output();
    emulator.SetSilent(Instrument::MfcB, true);
    const bool limitReached = Within(30, [&] { return Output().find("(outage limit)") != std::string::npos; });
    emulator.SetSilent(Instrument::MfcB, false);
    ASSERT_TRUE(limitReached) << Output();
    EXPECT_EQ(ExitStatus(), 5) << Output();
    EXPECT_TRUE(EveryFlowStopped());
}

// The configuration file's syringe, fluid, fluid limit and outlet conditions are the run's, an
// option overrides the syringe, and the run log says which values were used.
TEST_F(MoirexctlRunTest, RunTakesTheConfigurationFileAndSaysWhatItUsed) {
    for (const char* name : {"moirex.ini", "moirexctl.ini"})
        std::ofstream(work / "home" / name) << "[Syringe]\r\nVolume MicroLiter=25\r\n[Fluid]\r\nMax PPM=500000\r\n"
                                               "Mixture name=Lab water\r\n[Custom flow conditions]\r\nTemperatureC=30\r\n";
    Start(0.0002);
    EXPECT_EQ(ExitStatus(), 0) << Output();
    EXPECT_NE(Output().find("Settings used: syringe 25 \xC2\xB5l (configuration file), 24000 steps; fluid Lab water"),
              std::string::npos) << Output();
    EXPECT_NE(Output().find("fluid limit 500000 ppm; outlet 30 \xC2\xB0" "C"), std::string::npos) << Output();
    Start(0.0002, {"--syringe-ul", "50"});
    EXPECT_EQ(ExitStatus(), 0) << Output();
    EXPECT_NE(Output().find("Settings used: syringe 50 \xC2\xB5l (--syringe-ul)"), std::string::npos) << Output();
}

// What can be refused without the instruments is refused before any of them is spoken to.
TEST_F(MoirexctlRunTest, ArgumentsThatCannotWorkAreRefusedBeforeTheBringUp) {
    const fs::path earlier = work / "earlier.csv";
    std::ofstream(earlier) << "an earlier run's data\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--gas-a", "99"}, "--gas-a: no controller has a gas table 99"},
        {{"--gas-b", "1"}, "--gas-b: no controller has a gas table 1"},
        {{"--data", earlier.string()}, "exists already; give --force to replace it"},
    };
    for (const auto& [extra, told] : cases) {
        SCOPED_TRACE(told);
        Start(1, extra);
        EXPECT_EQ(ExitStatus(), 2) << Output();
        EXPECT_NE(Output().find(told), std::string::npos) << Output();
        for (Instrument i : {Instrument::Pump, Instrument::MfcA, Instrument::MfcB}) EXPECT_EQ(emulator.RequestsSeen(i), 0u);
    }
    std::ifstream in(earlier);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "an earlier run's data");
    // --force replaces it.
    Start(0.0002, {"--data", earlier.string(), "--force"});
    EXPECT_EQ(ExitStatus(), 0) << Output();
    std::ifstream again(earlier);
    std::getline(again, first);
    EXPECT_NE(first, "an earlier run's data");
}

}  // namespace

// The guardian of moirexctl run (moirex-guard), on the emulator: a controller killed or frozen
// mid-segment has its instruments stopped by the guardian and recorded; a killed guardian is
// started again; a healthy run never sees the guardian act.

#include "moirexctl/MoirexctlRunFixture.h"

namespace {

using namespace moirexctl_test;

class GuardianTest : public MoirexctlRunTest {
protected:
    // Short, but long enough that a loaded machine (a sanitizer build) never looks frozen.
    GuardianTest() { WriteIni("[Run]\r\nGuard timeout s=2\r\n"); }

    void StartFlowing() {
        Start(1, {"--data", (work / "run.csv").string()});
        ASSERT_TRUE(Within(60, [&] { return GasAFlowing() && emulator.Mfc(Instrument::MfcB).SetPoint > 0; }))
            << Output();
    }

    std::string LastLine(const fs::path& file) const {
        std::ifstream in(file, std::ios::binary);
        std::string line, last;
        while (std::getline(in, line))
            if (!line.empty()) last = line;
        if (!last.empty() && last.back() == '\r') last.pop_back();
        return last;
    }

    // The guardian of the run: the child of moirexctl named moirex-guard (0 when none).
    pid_t Guardian() const {
        std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
        pid_t child = 0;
        while (in >> child) {
            std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
            std::string name;
            std::getline(comm, name);
            if (name == "moirex-guard") return child;
        }
        return 0;
    }

    uint64_t Requests() const {
        return emulator.RequestsSeen(Instrument::MfcA) + emulator.RequestsSeen(Instrument::MfcB) +
               emulator.RequestsSeen(Instrument::Pump);
    }

    fs::path Marks() const { return work / "home" / "unended-runs"; }
    size_t MarkCount() const {
        std::error_code ec;
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(Marks(), ec)) n += e.path().extension() == ".txt";
        return n;
    }

    static constexpr const char* kAccount = "Run ended without its stop procedure at ";
    static constexpr const char* kAllConfirmed =
        ": the guardian stopped the pump (confirmed), MFC A (confirmed), MFC B (confirmed)";
};

// kill -9 mid-segment: within the guard time + 2 s every set-point is 0 and the pump at rest; the
// data file ends with the guardian's line, the recipe has it too; the next set-up tells it once.
TEST_F(GuardianTest, KilledControllerHasItsFlowsStoppedAndRecorded) {
    StartFlowing();
    ::kill(pid, SIGKILL);
    EXPECT_EQ(ExitStatus(), 1000 + SIGKILL);
    // Within the guard time + 2 s (a death is seen at once: the socket ends).
    EXPECT_TRUE(Within(2 + 2, [&] {
        return emulator.Mfc(Instrument::MfcA).SetPoint == 0 && emulator.Mfc(Instrument::MfcB).SetPoint == 0 &&
               !emulator.Pump().Busy;
    }));
    ASSERT_TRUE(Within(5, [&] { return LastLine(work / "run.csv").rfind("# ", 0) == 0; })) << LastLine(work / "run.csv");
    const std::string last = LastLine(work / "run.csv");
    EXPECT_EQ(last.rfind(std::string("# ") + kAccount, 0), 0u) << last;
    EXPECT_NE(last.find(kAllConfirmed), std::string::npos) << last;
    std::string recipe;
    for (const auto& e : fs::directory_iterator(work / "home" / "Userdata"))
        if (e.path().filename().string().rfind("Recipe ", 0) == 0) recipe = LastLine(e.path());
    EXPECT_EQ(recipe, last.substr(2));

    // The next start on these ports tells it, once.
    const auto [status, told] = RunToEnd(SetupArgs());
    EXPECT_NE(told.find("moirexctl run, PID " + std::to_string(pid)), std::string::npos) << told;
    EXPECT_NE(told.find(last.substr(2)), std::string::npos) << told;
    EXPECT_EQ(MarkCount(), 0u);
    const auto [again, silent] = RunToEnd(SetupArgs());
    EXPECT_EQ(silent.find(kAccount), std::string::npos) << silent;
}

// Frozen (SIGSTOP) for longer than the guard time, then woken: the guardian has stopped the flows
// on the run's own claim of the ports (the frozen controller still holds them open and exclusive),
// and the controller ends its run on the guardian's account without commanding the instruments
// again, with its own exit status.
TEST_F(GuardianTest, FrozenControllerThatWakesUpCommandsNothingMore) {
    StartFlowing();
    ::kill(pid, SIGSTOP);
    // The guardian's account reaches the run data file when its stop is done.
    ASSERT_TRUE(Within(2 + 5, [&] { return LastLine(work / "run.csv").find(kAllConfirmed) != std::string::npos; }))
        << LastLine(work / "run.csv");
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.0f);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0.0f);
    EXPECT_FALSE(emulator.Pump().Busy);
    const uint64_t requestsBefore = Requests();
    ::kill(pid, SIGCONT);
    EXPECT_EQ(ExitStatus(), 7) << Output();
    EXPECT_EQ(Requests(), requestsBefore) << "the woken controller spoke to an instrument\n" << Output();
    EXPECT_TRUE(EveryFlowStopped());
    const std::string out = Output();
    const size_t takeOver = out.find("The guardian has taken the instruments over");
    ASSERT_NE(takeOver, std::string::npos) << out;
    EXPECT_NE(out.find(std::string("Guardian: ") + kAccount), std::string::npos) << out;
    // (The worker's lines of exchanges it made before it froze may still come after this one.)
    for (const char* commanded : {"commanded to stop", "C Trying to handle", "B Handled"})
        EXPECT_EQ(out.find(commanded, takeOver), std::string::npos) << commanded << "\n" << out;
    EXPECT_NE(LastLine(work / "run.csv").find(kAllConfirmed), std::string::npos);
}

// The guardian killed mid-run is started again once, and the run goes on to its Stop.
TEST_F(GuardianTest, KilledGuardianIsStartedAgain) {
    StartFlowing();
    pid_t first = 0;
    ASSERT_TRUE(Within(5, [&] { return (first = Guardian()) != 0; }));
    ::kill(first, SIGKILL);
    ASSERT_TRUE(Within(5, [&] { return Output().find("started again") != std::string::npos; })) << Output();
    pid_t second = 0;
    EXPECT_TRUE(Within(5, [&] { return (second = Guardian()) != 0 && second != first; }));
    EXPECT_TRUE(GasAFlowing());
    ::kill(pid, SIGINT);
    EXPECT_EQ(ExitStatus(), 128 + SIGINT) << Output();
    EXPECT_TRUE(EveryFlowStopped());
    EXPECT_EQ(MarkCount(), 0u);
}

// A run that ends by itself: the guardian ends with it and never speaks to an instrument.
TEST_F(GuardianTest, HealthyRunNeverSeesTheGuardianAct) {
    Start(0.0005, {"--data", (work / "run.csv").string()});
    EXPECT_EQ(ExitStatus(), 0) << Output();
    const uint64_t requests = Requests();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // longer than the guard time
    EXPECT_EQ(Requests(), requests);
    EXPECT_EQ(LastLine(work / "run.csv").find("#"), std::string::npos);
    EXPECT_EQ(MarkCount(), 0u);
    EXPECT_EQ(Output().find("guardian"), std::string::npos) << Output();
}

}  // namespace

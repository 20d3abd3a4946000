// moirexctl run as a program: its exit statuses, run by the built binary against the instrument
// emulator (unpaced, time-scaled), so that a script can tell a completed run from an interrupted
// one, a refused Start and a stop that could not be confirmed.

#include "moirexctl/MoirexctlRunFixture.h"

namespace {

using namespace moirexctl_test;

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

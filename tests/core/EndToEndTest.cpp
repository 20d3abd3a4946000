// Whole runs on the instrument emulator through the run controller, the worker and the drivers:
// a two-segment program to its end, a controller unplugged in the middle, and stops that cannot
// be confirmed.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "RunControllerFixture.h"
#include "core/MFCPassRules.h"

namespace moirex {
namespace {

using namespace testing_run;

using EndToEndTest = RunOnEmulator;

bool EveryFlowStopped(const sim::Emulator& emulator) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        const auto a = emulator.Mfc(Instrument::MfcA);
        const auto b = emulator.Mfc(Instrument::MfcB);
        if (a.SetPoint == 0 && b.SetPoint == 0 && a.Flow == 0 && b.Flow == 0 && !emulator.Pump().Busy)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST_F(EndToEndTest, TwoSegmentsConstantThenPulsedEndReadyWithEveryFlowStopped) {
    const double lowFlow = 3.0 * mixer.MFCADetails.LUT[mixer.MFCADetails.ActiveLUT].RangeMin;
    mixer.StepProgram = {Segment(0.0005, 0.01f, 1, 0.02f, "IV100A2000OR"),
                         Segment(0.0005, 0.0004f, 0.4f, 0.03f, "IV200A2000OR")};
    followRealTime = true;
    ButtonApplyClick(ctx);
    ASSERT_EQ(mixer.MixerState, TMixerState::msOperating);

    std::set<float> setPointsOfA;
    bool sawSecondSegment = false;
    const bool ended = RunUntil([&] {
        setPointsOfA.insert(emulator.Mfc(Instrument::MfcA).SetPoint);
        if (mixer.CurrentStep == 1) sawSecondSegment = true;
        return Idle() && !WorkerRunning(ctx);
    }, 30);
    ASSERT_TRUE(ended) << LogText();

    EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
    EXPECT_EQ(form.RzLEDDisplay1.Caption(), "Stopped");
    EXPECT_EQ(mixer.PumpDetails.Status, "@");
    EXPECT_TRUE(sawSecondSegment);
    EXPECT_TRUE(EveryFlowStopped(emulator)) << emulator.StatusJson();
    // Constant mode held the wanted flow; pulsed mode switched between the low flow and zero.
    const std::string seen = ::testing::PrintToString(setPointsOfA);
    EXPECT_TRUE(setPointsOfA.count(0.01f)) << seen;
    EXPECT_TRUE(setPointsOfA.count(static_cast<float>(lowFlow))) << seen << " low flow " << lowFlow;
    EXPECT_TRUE(setPointsOfA.count(0.0f)) << seen;
    EXPECT_GT(handOvers, 5);
    for (const char* line : {"Tick:Next Step: 1", "Tick:Stop", "C Handled (Pump command:'IV100A2000OR')",
                             "C Handled (Pump command:'IV200A2000OR')", "MFC B flow set to :",
                             "Thread Stopped", " MFC A: permanent stop", "MFC A commanded to stop",
                             "MFC B commanded to stop"})
        EXPECT_TRUE(Logged(line)) << line;
    ASSERT_GT(form.MemoSetupFeedback.Count(), 0);
    EXPECT_NE(form.MemoSetupFeedback.Lines().back().find(" Pump stopped"), std::string::npos);
    // The automatic end leaves the program's buttons as the run had them.
    EXPECT_FALSE(form.ButtonAddStep.Enabled());

    // The recipe and the run data file, naming each other; one row per hand-over, the stop's
    // included, each naming its segment.
    ASSERT_EQ(CountFiles(userdata), 2);
    fs::path recipe, data;
    for (const auto& e : fs::directory_iterator(userdata))
        (e.path().extension() == ".csv" ? data : recipe) = e.path();
    EXPECT_EQ(data.filename().string().rfind("Run ", 0), 0u) << data;
    EXPECT_EQ(data.filename().string().substr(4), recipe.filename().string().substr(7, 19) + ".csv");
    std::ifstream recipeIn(recipe);
    std::string line, lastRecipeLine;
    while (std::getline(recipeIn, line)) lastRecipeLine = line;
    EXPECT_EQ(lastRecipeLine, "Run data: " + data.filename().string() + "\r");

    std::ifstream dataIn(data);
    ASSERT_TRUE(std::getline(dataIn, line));
    EXPECT_EQ(line, "# Recipe: " + recipe.filename().string() + "\r");
    ASSERT_TRUE(std::getline(dataIn, line));
    EXPECT_EQ(line, std::string(RunDataHeader) + "\r");
    int rows = 0;
    std::set<std::string> segments;
    double lastSeconds = -1;
    while (std::getline(dataIn, line)) {
        ++rows;
        std::vector<std::string> cells;
        std::stringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, ',');) cells.push_back(cell);
        ASSERT_EQ(cells.size(), 8u) << line;
        segments.insert(cells[2]);
        const double seconds = std::stod(cells[1]);
        EXPECT_GE(seconds, lastSeconds) << line;
        lastSeconds = seconds;
    }
    EXPECT_EQ(rows, handOvers);
    EXPECT_TRUE(segments.count("1") && segments.count("2")) << ::testing::PrintToString(segments);
}

TEST_F(EndToEndTest, MFCAUnpluggedInTheMiddleAndPluggedBack) {
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "")};
    ButtonApplyClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return handOvers >= 3 && ctx.ThreadData.StepPumpSet; }));

    emulator.Unplug(Instrument::MfcA);
    ASSERT_TRUE(RunUntil([&] {
        return form.RzLEDDisplay1.Caption() == "Trying to communicate with MFC A or B";
    })) << LogText();
    EXPECT_TRUE(Logged(CouldNotTalkToMFCA));
    // The segment's time runs out while the controller is away; the run waits for it.
    clock.Advance(2 * 3600);
    ASSERT_TRUE(RunUntil([&] { return Count(CouldNotTalkToMFCA) >= 2; }));
    EXPECT_EQ(mixer.MixerState, TMixerState::msOperating);

    emulator.Plug(Instrument::MfcA);
    ASSERT_TRUE(RunUntil([&] { return Idle() && !WorkerRunning(ctx); })) << LogText();
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
    EXPECT_TRUE(Logged("Tick:Stop"));
    EXPECT_TRUE(EveryFlowStopped(emulator));
}

TEST_F(EndToEndTest, StopThatCannotBeConfirmedAndItsRepeat) {
    struct Case {
        const char* name;
        std::function<void(sim::Emulator&)> fault;
        const char* falseLine;
    };
    const Case cases[] = {
        {"pump stuck busy", [](sim::Emulator& e) { e.SetPumpStuckBusy(true); }, "  Fluid stopped: False"},
        {"MFC A refusing", [](sim::Emulator& e) { e.SetRefuseSetPoint(Instrument::MfcA, true); },
         "  MFC A stopped: False"},
    };
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "IV100A2000OR")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        handOvers = 0;
        ButtonApplyClick(ctx);
        ASSERT_EQ(mixer.MixerState, TMixerState::msOperating) << ::testing::PrintToString(dlg.Texts());
        ASSERT_TRUE(RunUntil([&] {
            return handOvers >= 2 && ctx.ThreadData.StepPumpSet && ctx.ThreadData.StepMFCBSet;
        })) << LogText();

        c.fault(emulator);
        ButtonStopClick(ctx);
        ASSERT_TRUE(RunUntil([&] { return Idle(); })) << LogText();
        EXPECT_EQ(mixer.MixerState, TMixerState::msStopFailed);
        EXPECT_TRUE(Logged("Could not stop flow!"));
        EXPECT_TRUE(Logged(c.falseLine)) << LogText();
        EXPECT_FALSE(WorkerRunning(ctx));

        // The operator presses Stop again once the instrument listens.
        emulator.ClearFaults(Instrument::MfcA);
        emulator.ClearFaults(Instrument::Pump);
        ButtonStopClick(ctx);
        ASSERT_TRUE(RunUntil([&] { return Idle(); })) << LogText();
        EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
        EXPECT_TRUE(EveryFlowStopped(emulator));
    }
}

}  // namespace
}  // namespace moirex

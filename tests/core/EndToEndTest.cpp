// Whole runs on the instrument emulator through the run controller, the worker and the drivers:
// a two-segment program to its end, a controller unplugged in the middle, and stops that cannot
// be confirmed.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "RunControllerFixture.h"
#include "core/MFCPassRules.h"
#include "support/Version.h"

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

// Pulsed first: on this time-scaled emulator a pulsed segment after a constant one is ahead for
// minutes with the constant flow's tail, which counts for the segment it went into.
TEST_F(EndToEndTest, TwoSegmentsPulsedThenConstantEndReadyWithEveryFlowStopped) {
    const double lowFlow = 3.0 * mixer.MFCADetails.LUT[mixer.MFCADetails.ActiveLUT].RangeMin;
    mixer.StepProgram = {Segment(0.0005, 0.0004f, 0.4f, 0.03f, "IV100A2000OR"),
                         Segment(0.0005, 0.01f, 1, 0.02f, "IV200A2000OR")};
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
    // Each reading names its segment; those of the stop procedure name none.
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments.front(), 1);
    EXPECT_TRUE(segments.back() == 0 || segments.back() == 2) << ::testing::PrintToString(segments);
    const auto firstNone = std::find(segments.begin(), segments.end(), 0);
    EXPECT_TRUE(std::is_sorted(segments.begin(), firstNone)) << ::testing::PrintToString(segments);
    EXPECT_GT(std::count(segments.begin(), firstNone, 2), 0) << ::testing::PrintToString(segments);
    EXPECT_TRUE(std::all_of(firstNone, segments.end(), [](int32_t s) { return s == 0; }))
        << ::testing::PrintToString(segments);
    for (const char* line : {"Tick:Next Step: 1", "Tick:Stop", "C Handled (Pump command:'IV100A2000OR')",
                             "C Handled (Pump command:'IV200A2000OR')", "MFC B flow set to :",
                             "Thread Stopped", " MFC A: permanent stop", "MFC A commanded to stop",
                             "MFC B commanded to stop"})
        EXPECT_TRUE(Logged(line)) << line;
    ASSERT_GT(form.MemoSetupFeedback.Count(), 0);
    EXPECT_NE(form.MemoSetupFeedback.Lines().back().find(" Pump stopped"), std::string::npos);
    // The automatic end gives the segment editor's buttons back, as Stop does.
    EXPECT_TRUE(form.ButtonAddStep.Enabled());
    EXPECT_TRUE(form.ButtonSegmentDelete.Enabled());

    // The recipe and the run data file, naming each other; one row per hand-over, the stop's
    // included, each naming its segment (the stop procedure's rows none).
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
    EXPECT_EQ(line, "# Moirex version: " + std::string(ProjectVersion()) + "\r");
    // The set-up's comment lines, then the header.
    std::vector<std::string> comments;
    while (std::getline(dataIn, line) && line.rfind("# ", 0) == 0) comments.push_back(line);
    EXPECT_EQ(line, std::string(RunDataHeader) + "\r");
    ASSERT_GE(comments.size(), 5u);
    EXPECT_EQ(comments[0].rfind("# MFC A: serial " + std::to_string(mixer.MFCADetails.Serial) + ", port ", 0), 0u)
        << comments[0];
    EXPECT_NE(comments[0].find(", gas table " + std::to_string(mixer.MFCADetails.ActiveLUT) + " "), std::string::npos)
        << comments[0];
    EXPECT_EQ(comments[1].rfind("# MFC B: serial " + std::to_string(mixer.MFCBDetails.Serial) + ", port ", 0), 0u)
        << comments[1];
    EXPECT_EQ(comments[2].rfind("# Pump: port ", 0), 0u) << comments[2];
    int rows = 0;
    std::set<std::string> segments;
    std::string lastSegment = "?";
    double lastSeconds = -1;
    while (std::getline(dataIn, line)) {
        ++rows;
        std::vector<std::string> cells;
        std::stringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, ',');) cells.push_back(cell);
        ASSERT_EQ(cells.size(), 8u) << line;
        segments.insert(cells[2]);
        lastSegment = cells[2];
        const double seconds = std::stod(cells[1]);
        EXPECT_GE(seconds, lastSeconds) << line;
        lastSeconds = seconds;
    }
    EXPECT_EQ(rows, readings);
    EXPECT_TRUE(segments.count("1") && segments.count("2")) << ::testing::PrintToString(segments);
    // The last reading was taken in the last segment, or in the stop procedure (no segment).
    EXPECT_TRUE(lastSegment == "" || lastSegment == "2") << lastSegment;
}

// The program's end is reached while a controller does not answer (the segment clock runs on);
// the silent controller cannot be zeroed, so the stop ends in msStopFailed, and a repeated Stop
// once it answers again ends in msReady.
TEST_F(EndToEndTest, ProgramReachesItsEndWhileAControllerIsSilent) {
    struct Case {
        const char* name;
        Instrument instrument;
        std::function<void(sim::Emulator&)> fault;
        std::function<void(sim::Emulator&)> mend;
        const char* falseLine;
    };
    const Case cases[] = {
        {"MFC A unplugged", Instrument::MfcA, [](sim::Emulator& e) { e.Unplug(Instrument::MfcA); },
         [](sim::Emulator& e) { e.Plug(Instrument::MfcA); }, "  MFC A stopped: False"},
        {"MFC B silent", Instrument::MfcB, [](sim::Emulator& e) { e.SetSilent(Instrument::MfcB, true); },
         [](sim::Emulator& e) { e.SetSilent(Instrument::MfcB, false); }, "  MFC B stopped: False"},
    };
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "")};
    mixer.OutageStop_s = 0;  // no outage limit: the program's end has to stop the run
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        handOvers = 0;
        ButtonApplyClick(ctx);
        ASSERT_TRUE(RunUntil([&] { return handOvers >= 3 && ctx.ThreadData.StepPumpSet; })) << LogText();

        c.fault(emulator);
        ASSERT_TRUE(RunUntil([&] {
            return form.RzLEDDisplay1.Caption() == "Trying to communicate with MFC A or B";
        })) << LogText();
        EXPECT_EQ(mixer.MixerState, TMixerState::msOperating);
        clock.Advance(2 * 3600);  // the segment's time runs out while the controller is away
        ASSERT_TRUE(RunUntil([&] { return Idle() && !WorkerRunning(ctx); })) << LogText();
        EXPECT_TRUE(Logged("Tick:Stop"));
        EXPECT_EQ(mixer.MixerState, TMixerState::msStopFailed);
        EXPECT_TRUE(Logged(c.falseLine)) << LogText();
        // Every flow the stop could reach is off.
        const Instrument other = c.instrument == Instrument::MfcA ? Instrument::MfcB : Instrument::MfcA;
        EXPECT_EQ(emulator.Mfc(other).SetPoint, 0.0f);
        EXPECT_FALSE(emulator.Pump().Busy);

        c.mend(emulator);
        ButtonStopClick(ctx);
        ASSERT_TRUE(RunUntil([&] { return Idle(); })) << LogText();
        EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
        EXPECT_TRUE(EveryFlowStopped(emulator));
    }
}

// The outage limit on the instruments: MFC B goes silent, the run stops by itself after the limit
// and ends in msReady when B listens again in time for the stop, msStopFailed when it does not.
TEST_F(EndToEndTest, OutageLimitStopsTheRun) {
    struct Case {
        const char* name;
        bool answersForTheStop;
        TMixerState end;
    };
    const Case cases[] = {{"B back for the stop", true, TMixerState::msReady},
                          {"B silent to the end", false, TMixerState::msStopFailed}};
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "")};
    mixer.OutageStop_s = 1;
    followRealTime = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        handOvers = 0;
        ButtonApplyClick(ctx);
        ASSERT_TRUE(RunUntil([&] { return handOvers >= 3 && ctx.ThreadData.StepPumpSet; })) << LogText();
        emulator.SetSilent(Instrument::MfcB, true);
        ASSERT_TRUE(RunUntil([&] {
            if (mixer.MixerState == TMixerState::msStopping && c.answersForTheStop)
                emulator.SetSilent(Instrument::MfcB, false);
            return Idle() && !WorkerRunning(ctx);
        })) << LogText();
        EXPECT_TRUE(Logged("MFC B has not answered for 1 s (outage limit): the run stops")) << LogText();
        EXPECT_FALSE(Logged("Tick:Stop"));
        EXPECT_EQ(ctx.StopCause, TStopCause::scOutage);
        EXPECT_EQ(mixer.MixerState, c.end) << LogText();
        EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.0f);
        emulator.SetSilent(Instrument::MfcB, false);
        if (c.end == TMixerState::msStopFailed) {
            ButtonStopClick(ctx);
            ASSERT_TRUE(RunUntil([&] { return Idle(); })) << LogText();
        }
        EXPECT_TRUE(EveryFlowStopped(emulator));
    }
}

// A segment change reaches MFC A within one pass of the worker although every pump exchange of
// the tick takes seconds: the worker's hand-overs are served while the tick waits for the pump.
TEST_F(EndToEndTest, SegmentChangeReachesMFCAWhileThePumpTakesSeconds) {
    ctx.PumpTiming = TPumpPortTiming{5, 3000};
    emulator.SetDelayMs(Instrument::Pump, 1000);  // connect, stop and command: 3 s or more a tick
    mixer.StepProgram = {Segment(0.001, 0.01f, 1, 0.02f, "IV100A2000OR"), Segment(0.001, 0, 1, 0.02f, "IV100A2000OR")};
    followRealTime = true;
    using Steady = std::chrono::steady_clock;
    Steady::time_point changed{}, zeroSeen{}, started{}, flowSeen{};
    ctx.OnLogLine = [&](const TMemo& memo, const std::string& line) {
        if (&memo == &form.MemoLog) log.push_back(line);
        if (line.find("Tick:Next Step: 1") != std::string::npos) changed = Steady::now();
    };
    // Each hand-over looks at what MFC A was told: one look per pass of the worker.
    ctx.OnHandOver = [&](const THandOverReadings&) {
        ++handOvers;
        const float sp = emulator.Mfc(Instrument::MfcA).SetPoint;
        if (flowSeen == Steady::time_point{} && sp == 0.01f) flowSeen = Steady::now();
        if (changed != Steady::time_point{} && zeroSeen == Steady::time_point{} && sp == 0.0f) zeroSeen = Steady::now();
    };
    started = Steady::now();
    ButtonApplyClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return zeroSeen != Steady::time_point{}; }, 40)) << LogText();
    auto seconds = [](Steady::duration d) { return std::chrono::duration<double>(d).count(); };
    // Far below the pump's three seconds and more; the worker's passes are quick on the emulator.
    EXPECT_LT(seconds(flowSeen - started), 1.5) << LogText();
    EXPECT_LT(seconds(zeroSeen - changed), 1.5) << LogText();
    ButtonStopClick(ctx);
    emulator.SetDelayMs(Instrument::Pump, 0);
    ASSERT_TRUE(RunUntil([&] { return Idle() && !WorkerRunning(ctx); }, 40)) << LogText();
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
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


// The dosing benchmark's program in short (20 s segments; the emulator's physics in real time, so
// that the worker's clock and the delivered mass agree): constant, pulsed, no gas A, constant,
// with every pump exchange a third of a second late as on the real line. Loose bounds, that catch
// a segment's gas A delivered into the next segment (a second of the first segment's flow would be
// about the pulsed segment's whole target).
class DosingTest : public RunOnEmulator {
protected:
    static sim::EmulatorOptions RealTimePhysics() {
        sim::EmulatorOptions o = Options();
        o.TimeScale = 1;
        return o;
    }
    DosingTest() : RunOnEmulator(RealTimePhysics()) {}
};

TEST_F(DosingTest, EachSegmentGetsItsOwnGasA) {
    constexpr double kSegmentSeconds = 20;
    const double rangeMin = mixer.MFCADetails.LUT[mixer.MFCADetails.ActiveLUT].RangeMin;
    const float pulsed = static_cast<float>(0.9 * rangeMin);
    const float wanted[] = {0.005f, pulsed, 0, 0.005f};
    const double hours = kSegmentSeconds / 3600;
    mixer.StepProgram = {Segment(hours, wanted[0], 1, 0.02f, ""), Segment(hours, wanted[1], 0.9f, 0.02f, ""),
                         Segment(hours, wanted[2], 1, 0.02f, ""), Segment(hours, wanted[3], 1, 0.02f, "")};
    ctx.PumpTiming = RunPumpTiming;  // the program's own pump timing
    emulator.SetDelayMs(Instrument::Pump, 300);
    followRealTime = true;

    struct Boundary {
        double seconds, grams;
    };
    std::vector<Boundary> boundaries;
    SteadyClock steady;
    auto mark = [&] { boundaries.push_back({steady.MonotonicSeconds(), emulator.Mfc(Instrument::MfcA).MassDelivered_g}); };
    ctx.OnLogLine = [&](const TMemo& memo, const std::string& line) {
        if (&memo == &form.MemoLog) log.push_back(line);
        if (line.find("Tick:Next Step") != std::string::npos || line.find("Tick:Stop") != std::string::npos) mark();
    };
    mark();
    ButtonApplyClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle() && !WorkerRunning(ctx); }, 4 * kSegmentSeconds + 30)) << LogText();
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
    ASSERT_EQ(boundaries.size(), 5u) << LogText();

    std::string figures;
    double delivered[4], target[4];
    for (int i = 0; i < 4; ++i) {
        const double span = boundaries[i + 1].seconds - boundaries[i].seconds;
        delivered[i] = (boundaries[i + 1].grams - boundaries[i].grams) * 1e6;
        target[i] = wanted[i] * 1e6 * span / 60;
        figures += "segment " + std::to_string(i + 1) + ": delivered " + std::to_string(delivered[i]) +
                   " ug of " + std::to_string(target[i]) + " ug\n";
    }
    SCOPED_TRACE(figures);
    EXPECT_NEAR(delivered[0], target[0], 0.05 * target[0]);
    EXPECT_NEAR(delivered[1], target[1], 0.3 * target[1]);
    EXPECT_LT(delivered[2], 0.1 * target[1]);
    EXPECT_NEAR(delivered[3], target[3], 0.05 * target[3]);
}

}  // namespace
}  // namespace moirex

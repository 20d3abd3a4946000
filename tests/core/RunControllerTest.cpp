// Start, Stop and the tick of the run controller on the window's controls: refusals, the readings
// display, the graph, the segment clock, and the instruments' answers on the emulator.

#include "core/RunController.h"
#include "core/FlowStatusTexts.h"

#include <gtest/gtest.h>

#include "RunControllerFixture.h"
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "config/RunRecords.h"
#include "core/MFCPassRules.h"
#include "support/DateTime.h"
#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {
namespace {

using namespace testing_run;

// ---- Without instruments -------------------------------------------------------------------

using RunControllerTest = RunControllerBase;

TEST_F(RunControllerTest, StartRefusalsEachLeaveARecipe) {
    struct Case {
        TMixerState state;
        bool withProgram;
        const char* message;
    };
    const Case cases[] = {
        {TMixerState::msSimulation, true, "Instruments not initialized. Cannot proceed."},
        {TMixerState::msOperating, true, "Mixer is not ready. Stop current instructions first."},
        {TMixerState::msStopFailed, true, "Mixer is not ready. Stop current instructions first."},
        {TMixerState::msReady, false, "No segment program to execute."},
    };
    int second = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        // Each press at its own second, so each leaves a file of its own.
        const TDateTime now = EncodeDateTime(2026, 3, 29, 1, 59, second++, 0);
        ctx.Now = [now] { return now; };
        mixer.MixerState = c.state;
        mixer.StepProgram.clear();
        if (c.withProgram) mixer.StepProgram.push_back(Segment(1, 0.01f, 1, 0, ""));
        const int before = CountFiles(userdata);
        dlg.shown.clear();

        ButtonApplyClick(ctx);

        // A refused start writes no data file and names none.
        EXPECT_EQ(CountFiles(userdata), before + 1);
        EXPECT_TRUE(fs::exists(userdata / RecipeFileName(now)));
        std::ifstream recipe(userdata / RecipeFileName(now));
        const std::string text{std::istreambuf_iterator<char>(recipe), std::istreambuf_iterator<char>()};
        EXPECT_EQ(text.find("Run data:"), std::string::npos);
        ASSERT_EQ(dlg.Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(mixer.MixerState, c.state);
        EXPECT_FALSE(WorkerRunning(ctx));
        EXPECT_TRUE(form.PageControl1.PageEnabled(0));
    }
}

TEST_F(RunControllerTest, StartEndsWhenTheRecipeCannotBeWritten) {
    // A file where the folder should be.
    fs::create_directories(userdata.parent_path());
    { std::ofstream(userdata.string()) << "x"; }
    mixer.MixerState = TMixerState::msReady;
    mixer.StepProgram.push_back(Segment(1, 0.01f, 1, 0, ""));
    ButtonApplyClick(ctx);
    EXPECT_EQ(dlg.shown.size(), 1u);
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady);
    EXPECT_FALSE(WorkerRunning(ctx));
    fs::remove(userdata);
}

// The tick in msOperating with every instrument already holding the segment: only the readings.
class RunControllerReadingsTest : public RunControllerBase {
protected:
    void Operate(float a, float pulsedA, float b) {
        mixer.StepProgram = {Segment(1, a, pulsedA, b, "")};
        mixer.MixerState = TMixerState::msOperating;
        ctx.StepStartSeconds = clock.MonotonicSeconds();
        ctx.ThreadData.StepMFCASet = ctx.ThreadData.StepMFCBSet = ctx.ThreadData.StepPumpSet = true;
    }
    void Show(const TFlowStatus& fs) {
        mixer.FlowStatus = fs;
        ctx.ThreadData.SomethingToTell = true;
        bool done = true;
        Tick(ctx, done);
        EXPECT_TRUE(done);
        EXPECT_FALSE(ctx.ThreadData.SomethingToTell);
    }
};

TEST_F(RunControllerReadingsTest, PanelsAndWarnings) {
    struct Case {
        float a, pulsedA, b;
        TFlowStatus fs;  // MFCA, SegmentAverage, MFCB, MovingAverage, MovingAverageMinutes
        const char* panel0;
        const char* panel1;
        const char* panel3;
        const char* panel4;
    };
    const Case cases[] = {
        {1, 1, 0, {0.95, 0.5, 0, 0.2, 2.5}, "Gas A flow: 95 % of 1.000 000 g/min",
         "Gas A 2.500 min average: 20 % of 1.000 000 g/min", "Gas B flow: 0.000 000 g/min", ""},
        {1, 1, 0, {1.05, 0.5, 0, 0.2, 2.5}, "Gas A flow: 105 % of 1.000 000 g/min",
         "Gas A 2.500 min average: 20 % of 1.000 000 g/min", "Gas B flow: 0.000 000 g/min", ""},
        {1, 1, 0, {0.949, 0.5, 0, 1, 2.5}, "Gas A flow: 95 % of 1.000 000 g/min",
         "Gas A 2.500 min average: 100 % of 1.000 000 g/min", "Gas B flow: 0.000 000 g/min",
         "Flow A Warning"},
        // Pulsed: the moving average is judged, not the flow of the moment.
        {1, 0.5f, 0, {0, 0.5, 0, 1.0, 1}, "Gas A flow: 0 % of 1.000 000 g/min",
         "Gas A 1.000 min average: 100 % of 1.000 000 g/min", "Gas B flow: 0.000 000 g/min", ""},
        {1, 0.5f, 2, {1, 0.5, 2.2, 0.5, 1}, "Gas A flow: 100 % of 1.000 000 g/min",
         "Gas A 1.000 min average: 50 % of 1.000 000 g/min", "Gas B flow: 110.000 %",
         "Flow A Warning -  Flow B Warning"},
        {0, 1, 2, {0.1, 0, 2, 0, 1}, "Gas A flow: ?", "Gas A 1.000 min average: ?",
         "Gas B flow: 100.000 %", ""},
        {0, 1, 2, {0, 0, 1.8, 0, 1}, "Gas A flow: ?", "Gas A 1.000 min average: ?",
         "Gas B flow: 90.000 %", " Flow B Warning"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.panel0 + std::string(" / ") + c.panel4);
        Operate(c.a, c.pulsedA, c.b);
        clock.Advance(10 * 60);  // long enough into the segment for a pulsed gas A to be judged
        Show(c.fs);
        EXPECT_EQ(form.StatusBar1.Panel(0), c.panel0);
        EXPECT_EQ(form.StatusBar1.Panel(1), c.panel1);
        EXPECT_EQ(form.StatusBar1.Panel(2), "Gas A segment average flow: " +
                                                FormatMask(c.fs.SegmentAverage, "0.000 000") + " g/min");
        EXPECT_EQ(form.StatusBar1.Panel(3), c.panel3);
        EXPECT_EQ(form.StatusBar1.Panel(4), c.panel4);
    }
}

TEST_F(RunControllerReadingsTest, GraphEmptiedWhenTheTimeVectorExceedsGraphPoints) {
    mixer.GraphPoints = 1000;
    Operate(1, 1, 1);
    for (int i = 1; i <= 1000; ++i) Show({0.5, 0.25, 0.75, 0.5, 1});
    EXPECT_EQ(form.RtDoubleVectorTime.Count(), 1000);
    EXPECT_EQ(form.RtDoubleVector2GasAReal.Values().back(), 0.5);
    EXPECT_EQ(form.RtDoubleVectorGasBReal.Values().back(), 0.75);
    EXPECT_EQ(form.RtDoubleVectorGasAAvg.Values().back(), 0.25);
    Show({0.5, 0.25, 0.75, 0.5, 1});
    EXPECT_EQ(form.RtDoubleVectorTime.Count(), 0);
    EXPECT_EQ(form.RtDoubleVector2GasAReal.Count(), 0);
    EXPECT_EQ(form.RtDoubleVectorGasBReal.Count(), 0);
    EXPECT_EQ(form.RtDoubleVectorGasAAvg.Count(), 0);
}

TEST_F(RunControllerReadingsTest, SegmentClockIsMonotonicWhateverTheDateTimeDoes) {
    // The local date-time falls back an hour in the middle of the segment (end of summer time).
    TDateTime shown = EncodeDateTime(2026, 10, 25, 2, 30, 0, 0);
    ctx.Now = [&shown] { return shown; };
    Operate(0.01f, 1, 0);
    mixer.StepProgram[0].StepTime = 0.75;
    bool done = false;

    clock.Advance(20 * 60);
    shown -= 1.0 / 24;  // an hour back
    Tick(ctx, done);
    EXPECT_EQ(mixer.MixerState, TMixerState::msOperating);
    EXPECT_EQ(form.RzLEDDisplay1.Caption(), "Operating, step: 1/1, time left:0.42 hours.");

    clock.Advance(25 * 60);  // exactly 45 minutes: not yet over
    Tick(ctx, done);
    EXPECT_EQ(mixer.MixerState, TMixerState::msOperating);
    EXPECT_FALSE(Logged("Tick:Stop"));

    clock.Advance(0.05);
    Tick(ctx, done);
    EXPECT_EQ(mixer.MixerState, TMixerState::msStopping);
    EXPECT_EQ(mixer.CurrentStep, 0);
    EXPECT_TRUE(Logged("Tick:Stop"));
    EXPECT_FALSE(ctx.ThreadData.StepMFCASet || ctx.ThreadData.StepMFCBSet || ctx.ThreadData.StepPumpSet);
}

// A missing reading shows on the display, but the segment clock goes on: the program reaches its
// end while an instrument is silent, instead of keeping gas flowing past it.
TEST_F(RunControllerReadingsTest, ProgramReachesItsEndWhileAReadingIsMissing) {
    Operate(0.01f, 1, 0);
    mixer.StepProgram[0].StepTime = 0.001;
    Show({-1, 0, 0.5, 0, 1});
    EXPECT_EQ(form.RzLEDDisplay1.Caption(), "Trying to communicate with MFC A or B");
    EXPECT_EQ(mixer.MixerState, TMixerState::msOperating);
    clock.Advance(10);  // the segment's time runs out meanwhile
    Show({0.01, 0, -1, 0, 1});
    EXPECT_EQ(mixer.MixerState, TMixerState::msStopping);
    EXPECT_TRUE(Logged("Tick:Stop"));
    EXPECT_EQ(ctx.StopCause, TStopCause::scProgramEnd);
}

// The outage limit: a controller without a reading for longer than it stops the run by itself
// (the next tick runs the stop procedure); an answer in between starts the count again; 0 waits
// for ever.
TEST_F(RunControllerReadingsTest, OutageLimitStopsTheRun) {
    struct Case {
        const char* name;
        double limit;
        std::vector<std::pair<TFlowStatus, double>> readings;  // shown, then the clock advanced
        bool stops;
        const char* line;
    };
    const TFlowStatus silentB{0.01, 0, -1, 0, 1}, silentA{-1, 0, 0.02, 0, 1}, both{0.01, 0, 0.02, 0, 1};
    const Case cases[] = {
        {"MFC B past the limit", 60, {{silentB, 59}, {silentB, 2}, {silentB, 0}}, true,
         "MFC B has not answered for 60 s (outage limit): the run stops"},
        {"MFC A past the limit", 30, {{silentA, 31}, {silentA, 0}}, true,
         "MFC A has not answered for 30 s (outage limit): the run stops"},
        {"MFC B just at the limit", 60, {{silentB, 60}, {silentB, 0}}, false, ""},
        {"an answer in between", 60, {{silentB, 40}, {both, 1}, {silentB, 40}, {silentB, 0}}, false, ""},
        {"no limit", 0, {{silentB, 3000}, {silentB, 0}}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        mixer.OutageStop_s = c.limit;
        ctx.OutageSinceA = ctx.OutageSinceB = -1;
        ctx.StopCause = TStopCause::scNone;
        Operate(0.01f, 1, 0.02f);
        for (const auto& [fs, advance] : c.readings) {
            Show(fs);
            clock.Advance(advance);
        }
        EXPECT_EQ(mixer.MixerState, c.stops ? TMixerState::msStopping : TMixerState::msOperating);
        EXPECT_EQ(ctx.StopCause, c.stops ? TStopCause::scOutage : TStopCause::scNone);
        if (c.stops)
            EXPECT_TRUE(Logged(c.line)) << LogText();
        else
            EXPECT_FALSE(Logged("outage limit")) << LogText();
    }
}

// The log file deleted while the program runs: the next tick tells it once in the run log.
TEST_F(RunControllerTest, ALostLogFileIsToldOnceInTheRunLog) {
    fs::create_directories(userdata);
    TCodeSiteDestination destination;
    destination.LogFile.Active = true;
    destination.LogFile.FilePath = userdata.string();
    destination.LogFile.FileName = "MoirexLog.csl";
    FormLogger().SetDestination(&destination);
    FormLogger().Send("first line");
    fs::remove(userdata / "MoirexLog.csl");
    FormLogger().Send("second line");
    Timer1Timer(ctx);
    Timer1Timer(ctx);
    FormLogger().SetDestination(nullptr);
    EXPECT_EQ(Count("Log file \"" + (userdata / "MoirexLog.csl").string() +
                    "\" could not be written (the file was deleted). Logging to it is off."),
              1)
        << LogText();
}

TEST_F(RunControllerTest, StopTwiceIsStopOnce) {
    auto snapshot = [&] {
        return std::tuple{mixer.MixerState, form.RzLEDDisplay1.Caption(), mixer.FlowStatus.SegmentAverage,
                          form.ButtonAddStep.Enabled(), form.ButtonSegmentDelete.Enabled(), log.size(),
                          dlg.shown.size()};
    };
    mixer.MixerState = TMixerState::msOperating;
    mixer.FlowStatus.SegmentAverage = 0.3;
    form.ButtonAddStep.SetEnabled(false);
    form.ButtonSegmentDelete.SetEnabled(false);
    ButtonStopClick(ctx);
    const auto once = snapshot();
    EXPECT_EQ(std::get<0>(once), TMixerState::msStopping);
    EXPECT_EQ(std::get<1>(once), "Stopping");
    EXPECT_EQ(std::get<2>(once), 0);
    EXPECT_TRUE(std::get<3>(once) && std::get<4>(once));
    ButtonStopClick(ctx);
    EXPECT_EQ(snapshot(), once);
}

TEST_F(RunControllerTest, StopInSimulationOnlyTells) {
    BindRunButtons(ctx);
    form.ButtonStop.Click();
    EXPECT_EQ(dlg.Texts(), std::vector<std::string>{"Instruments not initialized. Cannot proceed."});
    EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
}

// ---- On the emulator ---------------------------------------------------------------------------

// Followed one tick at a time: each exchange runs at once, inside the tick that starts it.
class RunControllerEmulatorTest : public RunOnEmulator {
protected:
    RunControllerEmulatorTest() { ctx.Exchanges = &inlineExchanges; }
    TInlineExchanges inlineExchanges;
};

TEST_F(RunControllerEmulatorTest, ZeroLengthSegmentWithoutFluidOrGasB) {
    mixer.StepProgram = {Segment(0, 0.01f, 1, 0, ""), Segment(1, 0.01f, 1, 0.02f, "")};
    ButtonApplyClick(ctx);
    ASSERT_EQ(mixer.MixerState, TMixerState::msOperating) << ::testing::PrintToString(dlg.Texts());
    EXPECT_FALSE(form.PageControl1.PageEnabled(0));
    EXPECT_FALSE(form.ButtonAddStep.Enabled());

    bool done = false;
    Tick(ctx, done);
    // Everything handed over in the same tick that ends the segment, and the next segment's gas A
    // handed to the worker at once. (The worker's own lines may come in between: its hand-overs
    // are served while the tick waits for the instruments.)
    const std::vector<std::string> want = {
        "A Handled", "B Handled", "MFC B flow set to :0 g/min",
        "C Trying to handle (Pump command:'IV6000A24000OR')", "C Handled (Pump command:'IV6000A24000OR')",
        "Tick:Next Step: 1", "A Handled"};
    std::vector<std::string> tickLines;
    for (const std::string& line : log)
        if (line.find("Thread") == std::string::npos) tickLines.push_back(line);
    ASSERT_EQ(tickLines.size(), want.size()) << LogText();
    for (size_t i = 0; i < want.size(); ++i) EXPECT_NE(tickLines[i].find(want[i]), std::string::npos) << tickLines[i];
    EXPECT_TRUE(ctx.ThreadData.StepMFCASet);
    EXPECT_FALSE(ctx.ThreadData.StepMFCBSet || ctx.ThreadData.StepPumpSet);
    EXPECT_EQ(mixer.CurrentStep, 1);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0.0f);
    // The emulator keeps the command without its closing run letter.
    EXPECT_EQ(emulator.Pump().Command, "IV6000A24000O");

    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
}

TEST_F(RunControllerEmulatorTest, DataFileThatCannotBeWrittenIsToldOnceAndTheRunGoesOn) {
    struct Case {
        const char* what;
        std::string path;
        const char* reason;
    };
    const Case cases[] = {
        {"a full disk", "/dev/full", "No space left on device"},
        {"a folder that is not there", (userdata / "none" / "run.csv").string(), "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.path == "/dev/full" && !fs::exists(c.path)) continue;
        log.clear();
        handOvers = 0;
        ctx.DataFilePath = c.path;
        mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "")};
        ButtonApplyClick(ctx);
        ASSERT_EQ(mixer.MixerState, TMixerState::msOperating) << ::testing::PrintToString(dlg.Texts());
        ASSERT_TRUE(RunUntil([&] { return handOvers >= 3 && ctx.ThreadData.StepMFCBSet; })) << LogText();
        EXPECT_EQ(mixer.MixerState, TMixerState::msOperating);
        EXPECT_EQ(Count("could not be written (" + std::string(c.reason) + "). The run goes on without it."), 1)
            << LogText();
        ButtonStopClick(ctx);
        ASSERT_TRUE(RunUntil([&] { return Idle(); })) << LogText();
        EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
        EXPECT_EQ(Count("could not be written"), 1) << LogText();
    }
}

// MFC A silent for a few passes: each failed pass is one row, and MFC B, not read in such a pass,
// is missing there too instead of repeating its last flow.
// The hand-over that passes a new segment to the worker carries a reading taken before the worker
// had it: its averages are the previous segment's, and so is its row's segment number.
TEST_F(RunControllerEmulatorTest, ReadingTakenBeforeTheWorkerHadANewSegmentBelongsToThePreviousOne) {
    struct Seen {
        int32_t segment;  // the reading's segment
        int32_t running;  // the segment the program runs at the hand-over
        bool reading;
    };
    std::vector<Seen> seen;
    const auto count = ctx.OnHandOver;
    ctx.OnHandOver = [&](const THandOverReadings& r) {
        seen.push_back({r.Segment, RunningSegment(ctx), r.NewReading});
        count(r);
    };
    mixer.StepProgram = {Segment(1.0 / 3600, 0.01f, 1, 0.02f, ""), Segment(1, 0.03f, 1, 0.02f, "")};
    ButtonApplyClick(ctx);
    ASSERT_EQ(mixer.MixerState, TMixerState::msOperating);
    ASSERT_TRUE(RunUntil([&] { return readings >= 3; })) << LogText();
    clock.Advance(2.0);  // past the first segment's second
    ASSERT_TRUE(RunUntil([&] { return std::count(segments.begin(), segments.end(), 2) >= 3; })) << LogText();
    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); })) << LogText();

    // The worker, woken for the new segment, often hands it over before it has a new reading;
    // when a reading was pending, it is the first segment's.
    const auto first = std::find_if(seen.begin(), seen.end(), [](const Seen& s) { return s.running == 2; });
    ASSERT_NE(first, seen.end());
    if (first->reading) {
        EXPECT_EQ(first->segment, 1);
    }
    int later = 0;
    for (auto it = std::next(first); it != seen.end() && it->running == 2; ++it) {
        if (!it->reading) continue;
        ++later;
        EXPECT_EQ(it->segment, 2);
    }
    EXPECT_GE(later, 3);
}

TEST_F(RunControllerEmulatorTest, SilentMFCAGivesOneRowPerPassWithEveryReadingMissing) {
    const std::string path = (userdata / "silent-a.csv").string();
    ctx.DataFilePath = path;
    mixer.OutageStop_s = 0;
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "")};
    ButtonApplyClick(ctx);
    ASSERT_EQ(mixer.MixerState, TMixerState::msOperating);
    ASSERT_TRUE(RunUntil([&] { return readings >= 3 && ctx.ThreadData.StepMFCBSet; })) << LogText();
    emulator.SetSilent(Instrument::MfcA, true);
    ASSERT_TRUE(RunUntil([&] { return Count(CouldNotTalkToMFCA) >= 3; }, 30)) << LogText();
    emulator.SetSilent(Instrument::MfcA, false);
    ASSERT_TRUE(RunUntil([&] { return ctx.Mixer.FlowStatus.MFCA >= 0; }, 30)) << LogText();
    const int failures = Count(CouldNotTalkToMFCA);
    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); })) << LogText();

    std::ifstream in(path);
    std::string line;
    int missingRows = 0, rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line.rfind("time,", 0) == 0) continue;
        ++rows;
        std::vector<std::string> cells;
        std::stringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, ',');) cells.push_back(cell);
        ASSERT_EQ(cells.size(), 8u) << line;
        // A missing reading is an empty field.
        if (!cells[3].empty()) continue;
        ++missingRows;
        EXPECT_EQ(cells[5], "") << line;
    }
    EXPECT_EQ(rows, readings);
    EXPECT_EQ(missingRows, failures) << LogText();
}

TEST_F(RunControllerEmulatorTest, MFCBRefusingItsSetPointIsTriedEveryTick) {
    emulator.SetRefuseSetPoint(Instrument::MfcB, true);
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "")};
    ButtonApplyClick(ctx);
    bool done = false;
    for (int tick = 1; tick <= 4; ++tick) {
        Tick(ctx, done);
        EXPECT_EQ(Count("B Handled"), tick);
        EXPECT_EQ(Count("Failed to set MFC B flow to :"), tick);
    }
    EXPECT_EQ(Count("A Handled"), 1);
    EXPECT_EQ(Count("C Handled"), 1);
    emulator.SetRefuseSetPoint(Instrument::MfcB, false);
    // The worker reads MFC B meanwhile: a write that meets its read fails too and is retried.
    int ticks = 0;
    while (!ctx.ThreadData.StepMFCBSet && ticks < 20) {
        Tick(ctx, done);
        ++ticks;
    }
    Tick(ctx, done);
    EXPECT_EQ(Count("B Handled"), 4 + ticks);
    EXPECT_EQ(Count("Failed to set MFC B flow to :"), 4 + ticks - 1);
    EXPECT_EQ(Count("MFC B flow set to :"), 1);
    EXPECT_NEAR(emulator.Mfc(Instrument::MfcB).SetPoint, 0.02f, 1e-7);

    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
}

// Once a segment's time is up its refused set-point is not retried: the tick moves on to the next
// segment at once instead of spending another exchange on the one that is over.
TEST_F(RunControllerEmulatorTest, SegmentWhoseTimeIsUpStopsRetryingAndMovesOn) {
    emulator.SetRefuseSetPoint(Instrument::MfcB, true);
    mixer.StepProgram = {Segment(0.5, 0.01f, 1, 0.02f, ""), Segment(1, 0.005f, 1, 0.03f, "")};
    ButtonApplyClick(ctx);
    bool done = false;
    Tick(ctx, done);
    Tick(ctx, done);
    EXPECT_EQ(Count("B Handled"), 2);
    clock.Advance(0.5 * 3600 + 1);
    Tick(ctx, done);
    EXPECT_EQ(Count("B Handled"), 2);  // not a third try for the segment that is over
    EXPECT_EQ(mixer.CurrentStep, 1);
    EXPECT_TRUE(Logged("Tick:Next Step: 1"));
    EXPECT_EQ(Count("A Handled"), 2);
    Tick(ctx, done);
    EXPECT_EQ(Count("B Handled"), 3);  // the new segment's set-point is tried
    emulator.SetRefuseSetPoint(Instrument::MfcB, false);
    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
}

TEST_F(RunControllerEmulatorTest, PumpCommandCountsOnlyWhenThePumpTookItWithoutError) {
    mixer.StepProgram = {Segment(1, 0, 1, 0, "IV100A2000OR")};
    emulator.SetPumpError(9);
    ButtonApplyClick(ctx);
    bool done = false;
    Tick(ctx, done);
    Tick(ctx, done);
    EXPECT_EQ(Count("C Failed to set pump command"), 2) << LogText();
    EXPECT_FALSE(Logged("C Handled"));
    EXPECT_FALSE(ctx.ThreadData.StepPumpSet);
    // Pump messages reach the run log, never a dialog.
    EXPECT_TRUE(dlg.shown.empty());

    emulator.SetPumpError(0);
    Tick(ctx, done);
    EXPECT_EQ(Count("C Handled (Pump command:'IV100A2000OR')"), 1) << LogText();
    EXPECT_TRUE(ctx.ThreadData.StepPumpSet);

    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
}

TEST_F(RunControllerEmulatorTest, MFCBRefusingTheStopZeroEndsInStopFailed) {
    form.SetCaption("Moirex  v2 2024-02-29");
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "")};
    ButtonApplyClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return ctx.ThreadData.StepMFCBSet && ctx.ThreadData.StepPumpSet; }));
    ASSERT_TRUE(RunUntil([&] { return !form.StatusBar1.Panel(3).empty(); }));
    form.StatusBar1.SetPanel(4, "Flow A Warning");
    emulator.SetRefuseSetPoint(Instrument::MfcB, true);
    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    // MFC A is confirmed at zero: its last readings are gone; MFC B's may still be true.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(form.StatusBar1.Panel(i), "") << i;
    EXPECT_NE(form.StatusBar1.Panel(3), "");
    EXPECT_EQ(form.StatusBar1.Panel(4), "");

    EXPECT_EQ(mixer.MixerState, TMixerState::msStopFailed);
    EXPECT_FALSE(WorkerRunning(ctx));
    EXPECT_TRUE(Logged("Could not stop flow!"));
    EXPECT_TRUE(Logged("  MFC A stopped: True"));
    EXPECT_TRUE(Logged("  MFC B stopped: False"));
    EXPECT_TRUE(Logged("  Fluid stopped: True"));
    EXPECT_EQ(form.Caption(), CouldNotStopFlow);
    EXPECT_EQ(form.RzLEDDisplay1.Caption(), CouldNotStopFlow);
    bool done = false;
    Tick(ctx, done);
    EXPECT_EQ(form.RzLEDDisplay1.Caption(), "Cannot stop flow. Manually power off the mixer.");

    // Stop again once MFC B listens: the stop procedure is repeated and succeeds.
    emulator.SetRefuseSetPoint(Instrument::MfcB, false);
    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady);
    EXPECT_EQ(form.RzLEDDisplay1.Caption(), "Stopped");
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0.0f);
    // The alarm is over: the caption is the window's own again, and the status bar is empty.
    EXPECT_EQ(form.Caption(), "Moirex  v2 2024-02-29");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(form.StatusBar1.Panel(i), "") << i;
}

// A program that ends by itself: the segment editors come back, no warning outlives the run, and
// the graph marks where the run stopped, once however often the stop procedure is repeated.
TEST_F(RunControllerEmulatorTest, ProgramEndingByItselfLeavesNoAlarmAndTheEditorsOpen) {
    mixer.StepProgram = {Segment(0.0005, 0.01f, 1, 0.02f, "")};
    ButtonApplyClick(ctx);
    ASSERT_EQ(mixer.MixerState, TMixerState::msOperating);
    EXPECT_FALSE(form.ButtonAddStep.Enabled());
    ASSERT_TRUE(RunUntil([&] { return form.RtDoubleVectorTime.Count() > 0; }));
    form.StatusBar1.SetPanel(4, "Flow A Warning");
    ASSERT_TRUE(RunUntil([&] { return Idle(); }, 15, 0.5));
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
    EXPECT_EQ(ctx.StopCause, TStopCause::scProgramEnd);
    EXPECT_TRUE(form.ButtonAddStep.Enabled());
    EXPECT_TRUE(form.ButtonSegmentDelete.Enabled());
    bool done = false;
    Tick(ctx, done);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(form.StatusBar1.Panel(i), "") << i;
    const int points = form.RtDoubleVectorTime.Count();
    EXPECT_TRUE(IsRunEnd(form, points - 1));
    EXPECT_FALSE(IsRunEnd(form, points - 2));

    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); }));
    EXPECT_EQ(form.RtDoubleVectorTime.Count(), points);
}

// The window's timer: an exception that escapes a tick does not end the program. During a run the
// stop procedure runs and confirms the stop; inside the stop procedure the run ends unconfirmed
// and Stop repeats it. The operator is shown each failure once, not on every tick.
TEST_F(RunControllerEmulatorTest, TickThatFailsStopsTheRunAndIsShownOnce) {
    std::vector<std::string> shown;
    int failures = 0;  // ticks left that fail
    ctx.OnTick = [&] {
        if (failures > 0) {
            --failures;
            throw std::runtime_error("disk on fire");
        }
    };
    auto guardedTicksUntil = [&](const std::function<bool()>& done) {
        for (int tick = 0; tick < 400 && !done(); ++tick) {
            handOver.processPending();
            GuardedTimer1Timer(ctx, [&](const std::string& text) { shown.push_back(text); });
            handOver.WaitForPending(5);
        }
        return done();
    };
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "")};
    ButtonApplyClick(ctx);
    failures = 2;
    GuardedTimer1Timer(ctx, [&](const std::string& text) { shown.push_back(text); });
    EXPECT_EQ(mixer.MixerState, TMixerState::msStopping);
    EXPECT_TRUE(mixer.TickReady);
    // The second failure comes in the stop procedure's first tick: the stop is not confirmed.
    ASSERT_TRUE(guardedTicksUntil([&] { return mixer.MixerState == TMixerState::msStopFailed; })) << LogText();
    ASSERT_EQ(shown.size(), 2u) << LogText();
    EXPECT_EQ(shown[0], "The run's tick failed: disk on fire. The stop procedure runs.");
    EXPECT_EQ(shown[1], "The run's tick failed: disk on fire. The stop procedure did not end: press Stop to repeat it.");
    EXPECT_TRUE(Logged(shown[1]));
    EXPECT_TRUE(Logged("Could not stop flow!"));
    EXPECT_EQ(form.RzLEDDisplay1.Caption(), CouldNotStopFlow);
    // Stop repeats it to its end.
    ButtonStopClick(ctx);
    ASSERT_TRUE(guardedTicksUntil([&] { return mixer.MixerState == TMixerState::msReady && !WorkerRunning(ctx); }))
        << LogText();
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.0f);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0.0f);
    EXPECT_FALSE(emulator.Pump().Busy);
    EXPECT_EQ(shown.size(), 2u);
}

}  // namespace
}  // namespace moirex

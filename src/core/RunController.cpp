#include "core/RunController.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <exception>
#include <future>
#include <thread>
#include <utility>
#include <vector>

#include "config/RunRecords.h"
#include "core/MFCThread.h"
#include "core/Totalizer.h"
#include "devices/PSD4_Interface.h"
#include "devices/SerialPortVogtlin.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/MixtureReport.h"
#include "support/FileLocations.h"
#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr uint32_t kMFCReadoutMs = 50;
constexpr int kPagesLockedDuringRun = 3;  // Setup, Pump & fluid details, Debug & Development
constexpr const char* kTryingToCommunicate = "Trying to communicate with MFC A or B";

TDateTime NowOf(const TRunContext& ctx) { return ctx.Now ? ctx.Now() : Now(); }

// One entry into the run log, told to the observer as it stands in the memo.
void RunLog(TRunContext& ctx, const std::string& msg) {
    TMemo& memo = ctx.Mixer.Form.MemoLog;
    LogOld(memo, msg);
    if (ctx.OnLogLine && memo.Count() > 0) ctx.OnLogLine(memo, memo.Line(memo.Count() - 1));
}

// What a hand-over brought: a new reading or not, and the segment under which the worker took it
// (the one in force before this hand-over passed on a new segment; 0 once the program has ended
// or a stop was asked for, as the stop procedure's readings belong to no segment).
THandOverReadings TakeHandOver(TRunContext& ctx) {
    THandOverReadings r{ctx.Mixer.FlowStatus, ctx.ReadingSegment, ctx.ThreadData.Out_NewReading};
    // What the worker holds from now on, for the readings of the next hand-over.
    ctx.ReadingSegment = RunningSegment(ctx);
    return r;
}

// One row of the run data file per reading.
void AddRunDataRow(TRunContext& ctx, const THandOverReadings& r) {
    if (!r.NewReading) return;
    if (!ctx.DataFile.Add(NowOf(ctx), ctx.Clk.MonotonicSeconds() - ctx.RunStartSeconds, static_cast<size_t>(r.Segment),
                          r.FlowStatus))
        RunLog(ctx, ctx.DataFile.FailureText());
}

void SetupFeedback(TRunContext& ctx, const std::string& line) {
    TMemo& memo = ctx.Mixer.Form.MemoSetupFeedback;
    memo.Add(line);
    if (ctx.OnLogLine) ctx.OnLogLine(memo, line);
}

// Runs an instrument exchange of the tick or the stop procedure on a helper thread, and serves the
// worker's hand-overs on the main thread until it is done. A pump exchange takes a second or more
// (on every tick while the pump refuses its command); meanwhile the worker must still receive a
// new segment's gas A and its stop request, and hand its readings over, or MFC A would hold the
// previous segment's set-point for as long as the exchange lasts. The exchange itself touches no
// mixer state: what it has to tell the operator comes back with its result.
template <typename Exchange>
auto WhileServingHandOvers(TRunContext& ctx, Exchange exchange) -> decltype(exchange()) {
    auto job = std::async(std::launch::async, std::move(exchange));
    while (job.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
        ctx.HandOver.processPending();
    return job.get();
}

// The pump driver's messages for the operator, collected on the exchange's thread and put into
// the run log afterwards: nothing in the tick or the stop procedure may wait for a click.
struct TPumpOutcome {
    bool Ok = false;
    std::vector<std::string> Messages;
};

void LogPumpMessages(TRunContext& ctx, const TPumpOutcome& outcome) {
    for (const std::string& message : outcome.Messages) RunLog(ctx, message);
}

// The raw set-point write of a controller, no log line.
bool WriteSetPoint(const TMFCDetails& details, double flow) {
    TVogtlinPort port;
    port.UseControllerSettings(details.ComPortName, kMFCReadoutMs);
    const TSerialResponse r =
        port.WriteF32(details.ModBusAddress, MFCRegisterSetPoint, static_cast<float>(flow));
    return r.Status.empty();
}

void SetLockedPages(TForm1& form, bool enabled) {
    for (int i = 0; i < kPagesLockedDuringRun; ++i) form.PageControl1.SetPageEnabled(i, enabled);
}

TGasItem ComponentOr(const TComponentDictionary& dict, const char* key) {
    if (const TGasItem* item = dict.Find(key)) return *item;
    TGasItem none;
    none.Init();
    return none;
}

bool OutsideTolerance(double ratio) { return ratio < 0.95 || ratio > 1.05; }

// The worker's readings on the status bar, the warnings, the log and the graph.
void ShowReadings(TRunContext& ctx, const TGasItem& A, const TGasItem& B) {
    TMixer& m = ctx.Mixer;
    TForm1& form = m.Form;
    const TFlowStatus& fs = m.FlowStatus;
    const double a = A.Mass;
    const double b = B.Mass;

    FormLogger().Send("FlowStatus.MFCA           : " + FormatGeneral(fs.MFCA));
    FormLogger().Send("MFCADetails.Mass (desired): " + FormatGeneral(a));
    FormLogger().Send("FlowStatus.MovingAverage  : " + FormatGeneral(fs.MovingAverage * 100));

    std::string warningA;
    std::string warningB;
    const std::string minutes = FormatMask(fs.MovingAverageMinutes, "0.000");
    if (a > 0) {
        const double ratio = A.Pulsed < 1 ? fs.MovingAverage / a : fs.MFCA / a;
        if (OutsideTolerance(ratio)) warningA = "Flow A Warning";
        const std::string ofWanted = " % of " + FormatMask(a, "0.000 000") + " g/min";
        form.StatusBar1.SetPanel(0, "Gas A flow: " + FormatMask(fs.MFCA / a * 100, "0") + ofWanted);
        form.StatusBar1.SetPanel(1, "Gas A " + minutes + " min" + " average: " +
                                        FormatMask(fs.MovingAverage / a * 100, "0") + ofWanted);
    } else {
        form.StatusBar1.SetPanel(0, "Gas A flow: ?");
        form.StatusBar1.SetPanel(1, "Gas A " + minutes + " min" + " average: ?");
    }
    form.StatusBar1.SetPanel(
        2, "Gas A segment average flow: " + FormatMask(fs.SegmentAverage, "0.000 000") + " g/min");
    if (b > 0) {
        const double ratio = fs.MFCB / b;
        if (OutsideTolerance(ratio)) warningB = " Flow B Warning";
        form.StatusBar1.SetPanel(3, "Gas B flow: " + FormatMask(ratio * 100, "0.000") + " %");
    } else {
        form.StatusBar1.SetPanel(3, "Gas B flow: " + FormatMask(fs.MFCB, "0.000 000") + " g/min");
    }
    form.StatusBar1.SetPanel(
        4, (!warningA.empty() && !warningB.empty()) ? warningA + " - " + warningB : warningA + warningB);

    form.RtDoubleVectorTime.Add(NowOf(ctx));
    form.RtDoubleVector2GasAReal.Add(fs.MFCA);
    form.RtDoubleVectorGasBReal.Add(fs.MFCB);
    form.RtDoubleVectorGasAAvg.Add(fs.SegmentAverage);
    if (form.RtDoubleVectorTime.Count() > m.GraphPoints) {
        form.RtDoubleVectorTime.Clear();
        form.RtDoubleVector2GasAReal.Clear();
        form.RtDoubleVectorGasBReal.Clear();
        form.RtDoubleVectorGasAAvg.Clear();
    }
}

// The pump command of a segment: connect, stop, send. Accepted only when the command's answer
// came back and the pump reports no error; a pump that never answered is not dosing.
TPumpOutcome SendPumpCommand(TRunContext& ctx, const std::string& command) {
    const std::string port = ctx.Mixer.PumpDetails.Port;
    const TPumpPortTiming timing = ctx.PumpTiming;
    Clock& clock = ctx.Clk;
    return WhileServingHandOvers(ctx, [port, timing, &clock, command] {
        TPumpOutcome outcome;
        TPSD4 pump([&outcome](const std::string& m) { outcome.Messages.push_back(m); }, clock);
        pump.PortTiming = timing;
        if (!pump.Connect(port) || !pump.Stop()) return outcome;
        TSerialResponse r;
        if (!pump.SendCommand(command, r, true)) return outcome;
        outcome.Ok = r.Status.empty() && pump.State == EnumPumpState::ps_No_error;
        return outcome;
    });
}

// The stop procedure's pump stop: connect (its result is not used), stop.
TPumpOutcome StopPump(TRunContext& ctx) {
    const std::string port = ctx.Mixer.PumpDetails.Port;
    const TPumpPortTiming timing = ctx.PumpTiming;
    Clock& clock = ctx.Clk;
    return WhileServingHandOvers(ctx, [port, timing, &clock] {
        TPumpOutcome outcome;
        TPSD4 pump([&outcome](const std::string& m) { outcome.Messages.push_back(m); }, clock);
        pump.PortTiming = timing;
        pump.Connect(port);
        outcome.Ok = pump.Stop();
        return outcome;
    });
}

double SegmentHoursSoFar(const TRunContext& ctx) {
    return (ctx.Clk.MonotonicSeconds() - ctx.StepStartSeconds) / 3600.0;
}

// Hands a segment's gas A to the worker; its next hand-over takes it over.
void HandOverGasA(TRunContext& ctx, const TGasItem& A) {
    RunLog(ctx, "A Handled");
    ctx.ThreadData.In_MixD = A;
    ctx.ThreadData.In_SegmentStartSeconds = ctx.StepStartSeconds;
    ctx.ThreadData.In_NewSegment = true;
    ctx.ThreadData.StepMFCASet = true;
    if (ctx.MFCThread) ctx.MFCThread->Nudge();
}

TGasItem GasAOf(const TGasItem& segment) {
    TComponentDictionary byInstrument;
    ComponentsByInstrument(segment, byInstrument);
    return ComponentOr(byInstrument, "0");
}

// The outage limit: true when MFC A or MFC B has had no reading for longer than it; the run then
// stops by itself (logged), as when Stop is pressed.
bool OutageLimitReached(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;
    const double now = ctx.Clk.MonotonicSeconds();
    auto track = [now](double& since, double reading) {
        if (reading != -1) since = -1;
        else if (since < 0) since = now;
    };
    track(ctx.OutageSinceA, m.FlowStatus.MFCA);
    track(ctx.OutageSinceB, m.FlowStatus.MFCB);
    if (!(m.OutageStop_s > 0)) return false;
    for (const auto& [since, name] : {std::pair{ctx.OutageSinceA, "MFC A"}, std::pair{ctx.OutageSinceB, "MFC B"}}) {
        if (since < 0 || now - since <= m.OutageStop_s) continue;
        RunLog(ctx, std::string(name) + " has not answered for " + FormatGeneral(m.OutageStop_s) +
                        " s (outage limit): the run stops");
        if (ctx.StopCause == TStopCause::scNone) ctx.StopCause = TStopCause::scOutage;
        m.MixerState = TMixerState::msStopping;
        m.FlowStatus.SegmentAverage = 0;
        m.Form.RzLEDDisplay1.SetCaption("Stopping");
        return true;
    }
    return false;
}

void OperatingPass(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;
    TThreadData& td = ctx.ThreadData;
    const auto segments = static_cast<int32_t>(m.StepProgram.size());
    if (m.CurrentStep < 0 || m.CurrentStep >= segments) {
        // The program has no segment at this position (it cannot change during a run): end it.
        m.MixerState = TMixerState::msStopping;
        m.CurrentStep = 0;
        if (ctx.StopCause == TStopCause::scNone) ctx.StopCause = TStopCause::scProgramEnd;
        RunLog(ctx, "Tick:Stop");
        return;
    }
    // A copy: the hand-overs served during the instrument exchanges below run on this thread.
    const TGasItem s = m.StepProgram[static_cast<size_t>(m.CurrentStep)];

    TComponentDictionary byInstrument;
    ComponentsByInstrument(s, byInstrument);
    const TGasItem A = ComponentOr(byInstrument, "0");
    const TGasItem B = ComponentOr(byInstrument, "1");
    const TGasItem C = ComponentOr(byInstrument, "2");

    FormLogger().Send(C.PumpCommand);

    if (td.SomethingToTell) {
        ShowReadings(ctx, A, B);
        td.SomethingToTell = false;
    }

    if (!td.StepMFCASet) HandOverGasA(ctx, A);

    // A segment whose time is already up does not retry its instruments any more: the exchanges
    // take their time, and the next segment's set-points must not wait for them. (A segment of no
    // duration still hands its set-points over first.)
    const bool timeUp = s.StepTime > 0 && s.StepTime < SegmentHoursSoFar(ctx);

    if (!td.StepMFCBSet && !timeUp) {
        RunLog(ctx, "B Handled");
        if (SetMFCFlow(ctx, m.MFCBDetails, B.Mass)) td.StepMFCBSet = true;
    }

    if (!td.StepPumpSet && !timeUp) {
        const std::string command = C.PumpCommand.empty() ? NoFluidPumpCommand : C.PumpCommand;
        RunLog(ctx, "C Trying to handle (Pump command:'" + command + "')");
        const TPumpOutcome outcome = SendPumpCommand(ctx, command);
        LogPumpMessages(ctx, outcome);
        if (outcome.Ok) {
            td.StepPumpSet = true;
            RunLog(ctx, "C Handled (Pump command:'" + command + "')");
        } else {
            RunLog(ctx, "C Failed to set pump command");
        }
    }
    // A Stop pressed while the exchanges above ran (the window's events are served with the
    // hand-overs) is not undone by the segment clock below.
    if (m.MixerState != TMixerState::msOperating) return;

    if (OutageLimitReached(ctx)) return;
    const bool readingMissing = m.FlowStatus.MFCA == -1 || m.FlowStatus.MFCB == -1;

    const double hoursSoFar = SegmentHoursSoFar(ctx);
    m.RunStatusText = "Operating, step: " + std::to_string(m.CurrentStep + 1) + "/" +
                      std::to_string(segments) + ", time left:" +
                      FormatMask(s.StepTime - hoursSoFar, "0.00") + " hours.";

    // The segment clock runs on while a reading is missing: a segment whose time is up ends, and
    // so does the program, also while an instrument is silent.
    // A segment of no duration ends at the first tick that reaches it, also when the clock has
    // not moved since the segment began.
    if (s.StepTime < hoursSoFar || s.StepTime <= 0) {
        td.StepMFCASet = false;
        td.StepMFCBSet = false;
        td.StepPumpSet = false;
        if (m.CurrentStep + 1 < segments) {
            m.CurrentStep += 1;
            m.StepStartTime = NowOf(ctx);
            ctx.StepStartSeconds = ctx.Clk.MonotonicSeconds();
            RunLog(ctx, "Tick:Next Step: " + std::to_string(m.CurrentStep));
            // Gas A of the new segment goes to the worker in this same tick: the worker must not
            // take the segment change with the previous segment's gas A (a pulsed segment's
            // re-base would open MFC A into the next one), nor wait a tick for it.
            HandOverGasA(ctx, GasAOf(m.StepProgram[static_cast<size_t>(m.CurrentStep)]));
        } else {
            m.MixerState = TMixerState::msStopping;
            m.CurrentStep = 0;
            if (ctx.StopCause == TStopCause::scNone) ctx.StopCause = TStopCause::scProgramEnd;
            RunLog(ctx, "Tick:Stop");
        }
    }

    m.Form.RzLEDDisplay1.SetCaption(readingMissing ? kTryingToCommunicate : m.RunStatusText);
}

}  // namespace

TRunContext::TRunContext(TMixer& mixer, TMainThreadHandOver& handOver, Clock& clock)
    : Mixer(mixer), HandOver(handOver), Clk(clock) {}

TRunContext::~TRunContext() {
    try {
        if (MFCThread) StopAndKillThread(*this);
    } catch (...) {
        // The destructor of the worker still waits for its body.
    }
}

bool WorkerRunning(const TRunContext& ctx) { return ctx.MFCThread != nullptr; }

int32_t RunningSegment(const TRunContext& ctx) {
    return ctx.Mixer.MixerState == TMixerState::msOperating ? ctx.Mixer.CurrentStep + 1 : 0;
}

bool SetMFCFlow(TRunContext& ctx, TMFCDetails details, double flow) {
    const bool ok = WhileServingHandOvers(ctx, [&details, flow] { return WriteSetPoint(details, flow); });
    if (ok)
        RunLog(ctx, details.MFCName + " flow set to :" + FormatGeneral(flow) + " g/min");
    else
        RunLog(ctx, "Failed to set " + details.MFCName + " flow to :" + FormatGeneral(flow) + " g/min");
    return ok;
}

void StopAndKillThread(TRunContext& ctx) {
    MethodScope scope(FormLogger(), "StopAndKillThread");
    while (ctx.MFCThread) {
        FormLogger().Send("Waiting for thread to stop");
        ctx.ThreadData.In_ToStop = true;
        ctx.MFCThread->Nudge();
        const int32_t span = ctx.StopPollMaxMs > 0 ? ctx.StopPollMaxMs : 1;
        std::uniform_int_distribution<int32_t> wait(0, span - 1);
        while (!ctx.MFCThread->Stopped.load()) {
            ctx.Clk.SleepMs(wait(ctx.Random));
            if (ctx.HandOver.processPending() == 0) {
                // A test clock does not wait: give the worker a moment to get to its hand-over.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        RunLog(ctx, "Thread Stopped");
        // The worker's last hand-over comes after it has set Stopped: serve it before joining.
        while (!ctx.MFCThread->BodyEnded()) {
            if (ctx.HandOver.processPending() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::unique_ptr<TMFCThread> worker = std::move(ctx.MFCThread);
        worker->Join();
    }
}

void StartThread(TRunContext& ctx) {
    MethodScope scope(FormLogger(), "StartThread");
    if (ctx.MFCThread) {
        FormLogger().Send("But first instruct to kill old thread");
        StopAndKillThread(ctx);
        FormLogger().Send("Thread is nill");
        // The old worker's stop request must not reach the new one.
        ctx.ThreadData.In_ToStop = false;
    }
    Clock& workerClock = ctx.WorkerClock ? *ctx.WorkerClock : ctx.Clk;
    ctx.MFCThread = std::make_unique<TMFCThread>(
        ctx.ThreadData, ctx.Mixer.FlowStatus, ctx.HandOver, workerClock, ctx.Mixer.AverageSampleSize,
        ctx.Mixer.MFCBDetails.ComPortName, [&ctx](const std::string& msg) { RunLog(ctx, msg); });
    ctx.MFCThread->SegmentClock = &ctx.Clk;
    ctx.MFCThread->OnHandOver = [&ctx] {
        const THandOverReadings readings = TakeHandOver(ctx);
        AddRunDataRow(ctx, readings);
        if (ctx.OnHandOver) ctx.OnHandOver(readings);
    };
}

void ButtonApplyClick(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;
    const TDateTime now = NowOf(ctx);
    const std::string folder = ctx.UserdataFolder.empty() ? UserdataFolder() : ctx.UserdataFolder;
    // The checks are told after the recipe is written, so that every press leaves one; only a
    // run that will start names a data file in it.
    const char* refusal = m.MixerState == TMixerState::msSimulation ? InstrumentsNotInitialized
                          : m.MixerState != TMixerState::msReady    ? MixerNotReady
                          : m.StepProgram.empty()                   ? NoSegmentProgram
                                                                    : nullptr;
    const bool besideRecipe = ctx.DataFilePath.empty();
    const std::string dataName = refusal ? std::string() : besideRecipe ? RunDataFileName(now) : ctx.DataFilePath;
    std::string recipePath;
    if (!WriteRecipeFile(m.Form, m.PumpDetails, m.Dlg, folder, now, dataName, &recipePath)) return;
    if (refusal) {
        m.Dlg.ShowMessage(refusal);
        return;
    }

    SetLockedPages(m.Form, false);

    ctx.ThreadData.StepMFCASet = false;
    ctx.ThreadData.StepMFCBSet = false;
    ctx.ThreadData.StepPumpSet = false;
    ctx.ThreadData.In_ToStop = false;
    // Readings of an earlier run must not stand for this one until the worker's first hand-over.
    ctx.ThreadData.SomethingToTell = false;
    m.FlowStatus.Reset();
    ctx.StopCause = TStopCause::scNone;
    ctx.OutageSinceA = -1;
    ctx.OutageSinceB = -1;
    m.CurrentStep = 0;
    ctx.ReadingSegment = 1;
    m.StepStartTime = now;
    ctx.StepStartSeconds = ctx.Clk.MonotonicSeconds();

    StartThread(ctx);

    // Opened once an earlier worker is gone, so none of its rows reach this run's file.
    ctx.RunStartSeconds = ctx.StepStartSeconds;
    const std::string dataPath = besideRecipe ? (std::filesystem::path(recipePath).parent_path() / dataName).string()
                                              : ctx.DataFilePath;
    if (!ctx.DataFile.Open(dataPath, besideRecipe ? std::filesystem::path(recipePath).filename().string() : recipePath))
        RunLog(ctx, ctx.DataFile.FailureText());

    TMFCThread& w = *ctx.MFCThread;
    w.MFCD = m.MFCADetails;
    w.rules.MixD.Mass = 0;
    w.rules.MixD.Pulsed = 1.0f;
    w.rules.LowFlow = 3.0 * static_cast<double>(m.MFCADetails.LUT[m.MFCADetails.ActiveLUT].RangeMin);
    w.Start();

    m.MixerState = TMixerState::msOperating;
    m.Form.ButtonAddStep.SetEnabled(false);
    m.Form.ButtonSegmentDelete.SetEnabled(false);
}

void ButtonStopClick(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;
    if (m.MixerState == TMixerState::msSimulation) {
        m.Dlg.ShowMessage(InstrumentsNotInitialized);
        return;
    }
    FormLogger().Send("Stop mixture button clicked");
    if (m.MixerState == TMixerState::msOperating && ctx.StopCause == TStopCause::scNone)
        ctx.StopCause = TStopCause::scStopButton;
    m.Form.RzLEDDisplay1.SetCaption("Stopping");
    m.MixerState = TMixerState::msStopping;
    m.FlowStatus.SegmentAverage = 0;
    m.Form.ButtonAddStep.SetEnabled(true);
    m.Form.ButtonSegmentDelete.SetEnabled(true);
}

void StopMixer(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;

    // The pump first, so that no fluid is dosed into a stream that no longer carries it away;
    // the worker keeps gas A on target meanwhile.
    const TPumpOutcome pump = StopPump(ctx);
    LogPumpMessages(ctx, pump);
    const bool fluidStopped = pump.Ok;
    SetupFeedback(ctx, FormatDateTime("hh:nn:ss.zzz", NowOf(ctx)) +
                           (fluidStopped ? " Pump stopped" : " Failed to stop pump"));

    StopAndKillThread(ctx);

    bool mfcAStopped = false;
    if (WriteSetPoint(m.MFCADetails, 0)) {
        m.FlowStatus.MFCA = 0;
        RunLog(ctx, "MFC A commanded to stop");
        ctx.Clk.SleepMs(20);
        mfcAStopped = true;
    }
    bool mfcBStopped = false;
    if (WriteSetPoint(m.MFCBDetails, 0)) {
        RunLog(ctx, "MFC B commanded to stop");
        ctx.Clk.SleepMs(20);
        mfcBStopped = true;
    }

    if (fluidStopped && mfcAStopped && mfcBStopped) {
        m.MixerState = TMixerState::msReady;
        m.Form.RzLEDDisplay1.SetCaption("Stopped");
        m.PumpDetails.Status = "@";
        return;
    }
    auto tf = [](bool v) { return std::string(v ? "True" : "False"); };
    RunLog(ctx, "Could not stop flow!");
    RunLog(ctx, "  MFC A stopped: " + tf(mfcAStopped));
    RunLog(ctx, "  MFC B stopped: " + tf(mfcBStopped));
    RunLog(ctx, "  Fluid stopped: " + tf(fluidStopped));
    m.Form.SetCaption(CouldNotStopFlow);
    m.Form.RzLEDDisplay1.SetCaption(CouldNotStopFlow);
    m.MixerState = TMixerState::msStopFailed;
}

void Tick(TRunContext& ctx, bool& Done) {
    Done = false;
    struct DoneOnExit {
        bool& done;
        ~DoneOnExit() { done = true; }
    } doneOnExit{Done};

    TMixer& m = ctx.Mixer;
    TForm1& form = m.Form;
    switch (m.MixerState) {
        case TMixerState::msSimulation:
            form.RzLEDDisplay1.SetCaption("Simulation");
            break;
        case TMixerState::msStopFailed:
            form.RzLEDDisplay1.SetCaption("Cannot stop flow. Manually power off the mixer.");
            break;
        case TMixerState::msStopping: {
            const std::string& shown = form.RzLEDDisplay1.Caption();
            if (shown.compare(0, 8, "Stopping") == 0 && shown.size() >= 8)
                form.RzLEDDisplay1.SetCaption(shown + ".");
            else
                form.RzLEDDisplay1.SetCaption("Stopping");
            StopMixer(ctx);
            break;
        }
        case TMixerState::msReady:
            for (int i = 0; i < 4; ++i) form.StatusBar1.SetPanel(i, "");
            SetLockedPages(form, true);
            break;
        case TMixerState::msOperating:
            OperatingPass(ctx);
            break;
    }
}

void Timer1Timer(TRunContext& ctx) {
    if (ctx.Mixer.TickReady) Tick(ctx, ctx.Mixer.TickReady);
}

void BindRunButtons(TRunContext& ctx) {
    ctx.Mixer.Form.ButtonApply.OnClick = [&ctx](TControl&) { ButtonApplyClick(ctx); };
    ctx.Mixer.Form.ButtonStop.OnClick = [&ctx](TControl&) { ButtonStopClick(ctx); };
}

}  // namespace moirex

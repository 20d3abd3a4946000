#include "core/RunController.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "config/RunRecords.h"
#include "core/FlowStatusTexts.h"
#include "core/MFCThread.h"
#include "core/RunStateForClaim.h"
#include "core/TickStep.h"
#include "core/UnendedRun.h"
#include "core/Totalizer.h"
#include "devices/ExchangeGate.h"
#include "devices/PSD4_Interface.h"
#include "devices/SerialLine.h"
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

double SegmentHoursSoFar(const TRunContext& ctx);

// The worker's readings on the status bar, the warnings, the log and the graph.
void ShowReadings(TRunContext& ctx, const TGasItem& A, const TGasItem& B) {
    TMixer& m = ctx.Mixer;
    TForm1& form = m.Form;
    const TFlowStatus& fs = m.FlowStatus;

    FormLogger().Send("FlowStatus.MFCA           : " + FormatGeneral(fs.MFCA));
    FormLogger().Send("MFCADetails.Mass (desired): " + FormatGeneral(A.Mass));
    FormLogger().Send("FlowStatus.MovingAverage  : " + FormatGeneral(fs.MovingAverage * 100));

    ShowStatusPanels(form.StatusBar1, FlowStatusPanels(fs, A, B, SegmentHoursSoFar(ctx) * 60));

    form.RtDoubleVectorTime.Add(NowOf(ctx));
    form.RtDoubleVector2GasAReal.Add(GraphValue(fs.MFCA));
    form.RtDoubleVectorGasBReal.Add(GraphValue(fs.MFCB));
    form.RtDoubleVectorGasAAvg.Add(fs.SegmentAverage);
    if (form.RtDoubleVectorTime.Count() > m.GraphPoints) {
        form.RtDoubleVectorTime.Clear();
        form.RtDoubleVector2GasAReal.Clear();
        form.RtDoubleVectorGasBReal.Clear();
        form.RtDoubleVectorGasAAvg.Clear();
    }
}

TExchangeExecutor& Exchanges(TRunContext& ctx) { return ctx.Exchanges ? *ctx.Exchanges : ctx.OwnExchanges; }

// After the stop procedure: the status bar keeps only what may still be true (the last readings
// of a controller that could not be stopped), no warning stands, and the graph marks the run's
// end, so that the next run's line does not join this one's.
void ShowStoppedInstruments(TRunContext& ctx, bool mfcAStopped, bool mfcBStopped) {
    TForm1& form = ctx.Mixer.Form;
    if (mfcAStopped)
        for (int i = 0; i < 3; ++i) form.StatusBar1.SetPanel(i, "");
    if (mfcBStopped) form.StatusBar1.SetPanel(3, "");
    form.StatusBar1.SetPanel(4, "");
    if (!IsRunEnd(form, form.RtDoubleVectorTime.Count() - 1)) AddRunEnd(form, NowOf(ctx));
}

// The pump command of a segment: connect, stop, send. Accepted only when the command's answer
// came back and the pump reports no error; a pump that never answered is not dosing. Runs off the
// main thread: the pump's messages come back with the result, for the run log.
TExchangeTicket<TPumpOutcome> SendPumpCommand(TRunContext& ctx, const std::string& command) {
    const std::string port = ctx.Mixer.PumpDetails.Port;
    const TPumpPortTiming timing = ctx.PumpTiming;
    Clock& clock = ctx.Clk;
    return SubmitExchange<TPumpOutcome>(
        Exchanges(ctx), port, [port, timing, &clock, command](const std::atomic<bool>& abandon) {
            TPumpOutcome outcome;
            TPSD4 pump([&outcome](const std::string& m) { outcome.Messages.push_back(m); }, clock);
            pump.PortTiming = timing;
            pump.Abandon = &abandon;
            if (!pump.Connect(port) || abandon.load() || !pump.Stop() || abandon.load()) return outcome;
            TSerialResponse r;
            if (!pump.SendCommand(command, r, true)) return outcome;
            outcome.Ok = r.Status.empty() && pump.State == EnumPumpState::ps_No_error;
            return outcome;
        });
}

// The stop procedure's pump stop: connect (its result is not used), stop.
TExchangeTicket<TPumpOutcome> StopPump(TRunContext& ctx) {
    const std::string port = ctx.Mixer.PumpDetails.Port;
    const TPumpPortTiming timing = ctx.PumpTiming;
    Clock& clock = ctx.Clk;
    return SubmitExchange<TPumpOutcome>(Exchanges(ctx), port, [port, timing, &clock](const std::atomic<bool>&) {
        TPumpOutcome outcome;
        TPSD4 pump([&outcome](const std::string& m) { outcome.Messages.push_back(m); }, clock);
        pump.PortTiming = timing;
        pump.Connect(port);
        outcome.Ok = pump.Stop();
        return outcome;
    });
}

// A zero set-point of the stop procedure, and the 20 ms that follow an accepted one, off the main
// thread.
TExchangeTicket<bool> WriteZero(TRunContext& ctx, const TMFCDetails& details) {
    Clock& clock = ctx.Clk;
    return SubmitExchange<bool>(Exchanges(ctx), details.ComPortName, [details, &clock](const std::atomic<bool>&) {
        const bool ok = WriteSetPoint(details, 0);
        if (ok) clock.SleepMs(20);
        return ok;
    });
}

TJobState StateOf(bool valid, bool ready) {
    return !valid ? TJobState::jsNone : ready ? TJobState::jsReady : TJobState::jsBusy;
}
template <class T>
TJobState StateOf(const TExchangeTicket<T>& t) {
    return StateOf(t.Valid(), t.Ready());
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

// The run stops by itself (logged), as when Stop is pressed.
void StopTheRun(TRunContext& ctx, TStopCause cause) {
    TMixer& m = ctx.Mixer;
    if (ctx.StopCause == TStopCause::scNone) ctx.StopCause = cause;
    m.MixerState = TMixerState::msStopping;
    m.FlowStatus.SegmentAverage = 0;
    m.Form.RzLEDDisplay1.SetCaption("Stopping");
}

// True when the run must stop now: an instrument on one of the run's lines is not the one that
// was validated (the line commands it no more), or MFC A or MFC B has had no reading for longer
// than the outage limit.
bool StopLimitsReached(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;
    for (const std::string* port : {&m.PumpDetails.Port, &m.MFCADetails.ComPortName, &m.MFCBDetails.ComPortName}) {
        const std::shared_ptr<TSerialLine> line = port->empty() ? nullptr : LineOf(*port);
        const std::string refusal = line ? line->IdentityRefusal() : std::string();
        if (refusal.empty()) continue;
        RunLog(ctx, refusal);
        StopTheRun(ctx, TStopCause::scIdentity);
        return true;
    }
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
        StopTheRun(ctx, TStopCause::scOutage);
        return true;
    }
    return false;
}

// A run-log line of the stop procedure or of a segment's set-points, for the one that is over too:
// the result of an exchange is told whenever it comes, but only the current segment's counts.
void TakeMFCB(TRunContext& ctx) {
    TTickExchanges& x = ctx.Pending;
    const bool ok = !x.B.Dropped() && x.B.Result();
    TellSetMFCFlow(ctx, ctx.Mixer.MFCBDetails, x.BFlow, ok);
    if (ok && x.BSegment == x.Segment) ctx.ThreadData.StepMFCBSet = true;
    x.B.Reset();
}

void StartMFCB(TRunContext& ctx, const TGasItem& B) {
    TTickExchanges& x = ctx.Pending;
    if (ctx.ThreadData.StepMFCBSet) return;  // the result just taken was the segment's success
    RunLog(ctx, "B Handled");
    x.B = SetMFCFlow(ctx, ctx.Mixer.MFCBDetails, B.Mass);
    x.BFlow = B.Mass;
    x.BSegment = x.Segment;
    // An executor that runs the write at once (tests) has the result already.
    if (x.B.Ready()) TakeMFCB(ctx);
}

void TakePump(TRunContext& ctx) {
    TTickExchanges& x = ctx.Pending;
    TPumpOutcome outcome;
    if (!x.Pump.Dropped()) outcome = x.Pump.Result();
    LogPumpMessages(ctx, outcome);
    if (outcome.Ok) {
        if (x.PumpSegment == x.Segment) ctx.ThreadData.StepPumpSet = true;
        RunLog(ctx, "C Handled (Pump command:'" + x.PumpCommand + "')");
    } else {
        RunLog(ctx, "C Failed to set pump command");
    }
    x.Pump.Reset();
}

void StartPump(TRunContext& ctx, const TGasItem& C) {
    TTickExchanges& x = ctx.Pending;
    if (ctx.ThreadData.StepPumpSet) return;
    const std::string command = C.PumpCommand.empty() ? NoFluidPumpCommand : C.PumpCommand;
    RunLog(ctx, "C Trying to handle (Pump command:'" + command + "')");
    x.Pump = SendPumpCommand(ctx, command);
    x.PumpCommand = command;
    x.PumpSegment = x.Segment;
    if (x.Pump.Ready()) TakePump(ctx);
}

void OperatingPass(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;
    TThreadData& td = ctx.ThreadData;
    TTickExchanges& x = ctx.Pending;
    const auto segments = static_cast<int32_t>(m.StepProgram.size());

    TOperatingFacts facts;
    facts.PositionValid = m.CurrentStep >= 0 && m.CurrentStep < segments;
    TGasItem s;
    if (facts.PositionValid) {
        s = m.StepProgram[static_cast<size_t>(m.CurrentStep)];
        const double hoursSoFar = SegmentHoursSoFar(ctx);
        facts.SomethingToTell = td.SomethingToTell;
        facts.ASet = td.StepMFCASet;
        facts.BSet = td.StepMFCBSet;
        facts.PumpSet = td.StepPumpSet;
        facts.B = StateOf(x.B);
        facts.Pump = StateOf(x.Pump);
        facts.TimeUp = s.StepTime > 0 && s.StepTime < hoursSoFar;
        // A segment of no duration ends at the first tick that reaches it, also when the clock
        // has not moved since the segment began.
        facts.SegmentOver = s.StepTime < hoursSoFar || s.StepTime <= 0;
        facts.LastSegment = m.CurrentStep + 1 >= segments;
    }

    TComponentDictionary byInstrument;
    ComponentsByInstrument(s, byInstrument);
    const TGasItem A = ComponentOr(byInstrument, "0");
    const TGasItem B = ComponentOr(byInstrument, "1");
    const TGasItem C = ComponentOr(byInstrument, "2");
    if (facts.PositionValid) FormLogger().Send(C.PumpCommand);

    bool readingMissing = false;
    for (const TTickAction action : OperatingStep(facts)) {
        switch (action) {
            case TTickAction::taEndProgramNoSegment:
                // The program has no segment at this position (it cannot change during a run).
                m.MixerState = TMixerState::msStopping;
                m.CurrentStep = 0;
                if (ctx.StopCause == TStopCause::scNone) ctx.StopCause = TStopCause::scProgramEnd;
                RunLog(ctx, "Tick:Stop");
                return;
            case TTickAction::taShowReadings:
                ShowReadings(ctx, A, B);
                td.SomethingToTell = false;
                break;
            case TTickAction::taHandOverA: HandOverGasA(ctx, A); break;
            case TTickAction::taTakeB: TakeMFCB(ctx); break;
            case TTickAction::taStartB: StartMFCB(ctx, B); break;
            case TTickAction::taTakePump: TakePump(ctx); break;
            case TTickAction::taStartPump: StartPump(ctx, C); break;
            case TTickAction::taCheckLimits:
                if (StopLimitsReached(ctx)) return;
                readingMissing = m.FlowStatus.MFCA == -1 || m.FlowStatus.MFCB == -1;
                break;
            case TTickAction::taStatusText:
                m.RunStatusText = "Operating, step: " + std::to_string(m.CurrentStep + 1) + "/" +
                                  std::to_string(segments) + ", time left:" +
                                  FormatMask(s.StepTime - SegmentHoursSoFar(ctx), "0.00") + " hours.";
                break;
            case TTickAction::taNextSegment:
                // The segment clock runs on while a reading is missing: a segment whose time is
                // up ends, also while an instrument is silent.
                td.StepMFCASet = false;
                td.StepMFCBSet = false;
                td.StepPumpSet = false;
                ++x.Segment;
                m.CurrentStep += 1;
                m.StepStartTime = NowOf(ctx);
                ctx.StepStartSeconds = ctx.Clk.MonotonicSeconds();
                RunLog(ctx, "Tick:Next Step: " + std::to_string(m.CurrentStep));
                // Gas A of the new segment goes to the worker in this same tick: the worker must
                // not take the segment change with the previous segment's gas A (a pulsed
                // segment's re-base would open MFC A into the next one), nor wait a tick for it.
                HandOverGasA(ctx, GasAOf(m.StepProgram[static_cast<size_t>(m.CurrentStep)]));
                break;
            case TTickAction::taEndProgram:
                td.StepMFCASet = false;
                td.StepMFCBSet = false;
                td.StepPumpSet = false;
                ++x.Segment;
                m.MixerState = TMixerState::msStopping;
                m.CurrentStep = 0;
                if (ctx.StopCause == TStopCause::scNone) ctx.StopCause = TStopCause::scProgramEnd;
                RunLog(ctx, "Tick:Stop");
                break;
            case TTickAction::taShowStatus:
                m.Form.RzLEDDisplay1.SetCaption(readingMissing ? kTryingToCommunicate : m.RunStatusText);
                break;
            default:
                break;
        }
    }
}

// The end of the stop procedure: msReady when every flow is known to have stopped.
void ConcludeStop(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;
    const TTickExchanges& x = ctx.Pending;
    ShowStoppedInstruments(ctx, x.MFCAStopped, x.MFCBStopped);
    if (x.FluidStopped && x.MFCAStopped && x.MFCBStopped) {
        m.MixerState = TMixerState::msReady;
        m.Form.RzLEDDisplay1.SetCaption("Stopped");
        m.PumpDetails.Status = "@";
        // The alarm of an earlier failed stop is over, and the program can be edited again also
        // when it ended by itself.
        if (m.Form.Caption() == CouldNotStopFlow) m.Form.SetCaption(ctx.CaptionBeforeStopFailed);
        m.Form.ButtonAddStep.SetEnabled(true);
        m.Form.ButtonSegmentDelete.SetEnabled(true);
        EndRunGuardian(ctx);
        return;
    }
    auto tf = [](bool v) { return std::string(v ? "True" : "False"); };
    RunLog(ctx, "Could not stop flow!");
    RunLog(ctx, "  MFC A stopped: " + tf(x.MFCAStopped));
    RunLog(ctx, "  MFC B stopped: " + tf(x.MFCBStopped));
    RunLog(ctx, "  Fluid stopped: " + tf(x.FluidStopped));
    if (m.Form.Caption() != CouldNotStopFlow) ctx.CaptionBeforeStopFailed = m.Form.Caption();
    m.Form.SetCaption(CouldNotStopFlow);
    m.Form.RzLEDDisplay1.SetCaption(CouldNotStopFlow);
    m.MixerState = TMixerState::msStopFailed;
}

// The stop procedure, one step per tick: it never waits for an instrument on the main thread.
void StopProcedureTick(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;
    TTickExchanges& x = ctx.Pending;
    TStopFacts facts;
    facts.Phase = x.StopPhase;
    facts.Job = StateOf(x.StopJob.Valid() || x.StopPump.Valid(), x.StopJob.Ready() || x.StopPump.Ready());
    facts.WorkerExists = ctx.MFCThread != nullptr;
    facts.WorkerStopped = facts.WorkerExists && ctx.MFCThread->Stopped.load();
    facts.WorkerEnded = facts.WorkerExists && ctx.MFCThread->BodyEnded();
    const TStopStep step = StopStep(facts);
    for (const TTickAction action : step.Actions) {
        switch (action) {
            case TTickAction::taBeginStop: {
                const std::string& shown = m.Form.RzLEDDisplay1.Caption();
                if (shown.compare(0, 8, "Stopping") == 0 && shown.size() >= 8)
                    m.Form.RzLEDDisplay1.SetCaption(shown + ".");
                else
                    m.Form.RzLEDDisplay1.SetCaption("Stopping");
                // Whatever the tick left under way gives up between its exchanges, and what has
                // not begun is dropped: the pump's stop comes next on its line.
                x.Pump.Abandon();
                Exchanges(ctx).DropPending(m.PumpDetails.Port);
                Exchanges(ctx).DropPending(m.MFCBDetails.ComPortName);
                x.FluidStopped = x.MFCAStopped = x.MFCBStopped = false;
                // The pump first, so that no fluid is dosed into a stream that no longer carries
                // it away; the worker keeps gas A on target meanwhile.
                x.StopPump = StopPump(ctx);
                break;
            }
            case TTickAction::taTakePumpStop: {
                TPumpOutcome pump;
                if (!x.StopPump.Dropped()) pump = x.StopPump.Result();
                x.StopPump.Reset();
                LogPumpMessages(ctx, pump);
                x.FluidStopped = pump.Ok;
                SetupFeedback(ctx, FormatDateTime("hh:nn:ss.zzz", NowOf(ctx)) +
                                       (pump.Ok ? " Pump stopped" : " Failed to stop pump"));
                break;
            }
            case TTickAction::taAskWorkerToStop:
                FormLogger().Send("Waiting for thread to stop");
                ctx.ThreadData.In_ToStop = true;
                ctx.MFCThread->Nudge();
                break;
            case TTickAction::taWorkerStopped:
                RunLog(ctx, "Thread Stopped");
                break;
            case TTickAction::taJoinWorker: {
                std::unique_ptr<TMFCThread> worker = std::move(ctx.MFCThread);
                worker->Join();
                break;
            }
            case TTickAction::taStartMFCAZero:
                x.StopJob = WriteZero(ctx, m.MFCADetails);
                break;
            case TTickAction::taTakeMFCAZero:
                x.MFCAStopped = !x.StopJob.Dropped() && x.StopJob.Result();
                x.StopJob.Reset();
                if (x.MFCAStopped) {
                    m.FlowStatus.MFCA = 0;
                    RunLog(ctx, "MFC A commanded to stop");
                }
                break;
            case TTickAction::taStartMFCBZero:
                x.StopJob = WriteZero(ctx, m.MFCBDetails);
                break;
            case TTickAction::taTakeMFCBZero:
                x.MFCBStopped = !x.StopJob.Dropped() && x.StopJob.Result();
                x.StopJob.Reset();
                if (x.MFCBStopped) RunLog(ctx, "MFC B commanded to stop");
                break;
            case TTickAction::taConcludeStop:
                ConcludeStop(ctx);
                break;
            default:
                break;
        }
    }
    x.StopPhase = step.Next;
}

// The guardian of the run just started: the run's mark for the next start, then moirex-guard
// with what it needs to stop the instruments on its own. A guardian that cannot be started is
// told in the run log; the run goes on.
void StartRunGuardian(TRunContext& ctx, const std::string& recipePath) {
    if (!ctx.StartGuardian) return;
    TMixer& m = ctx.Mixer;
    // The guardian and the next start may work from another folder.
    auto absolute = [](const std::string& name) {
        if (name.empty() || name[0] == '/' || name.find('/') == std::string::npos) return name;
        return std::filesystem::absolute(name).lexically_normal().string();
    };
    TUnendedRun mark;
    mark.Holder = ctx.Holder;
    mark.Pid = ::getpid();
    mark.Started = FormatDateTime("yyyy-mm-dd hh:nn:ss", m.StepStartTime);
    mark.PumpPort = absolute(m.PumpDetails.Port);
    mark.PortA = absolute(m.MFCADetails.ComPortName);
    mark.PortB = absolute(m.MFCBDetails.ComPortName);
    mark.DataFile = ctx.DataFile.IsOpen() ? ctx.DataFile.Path() : std::string();
    mark.RecipeFile = recipePath;
    std::string error;
    ClearRunMark(ctx.RunMarkPath);
    ctx.RunMarkPath.clear();
    if (MarkRunUnderWay(mark, error))
        ctx.RunMarkPath = mark.Path;
    else
        RunLog(ctx, "The run's mark for the next start could not be written: " + error);

    TGuardianRun run;
    run.Holder = ctx.Holder;
    run.PumpPort = mark.PumpPort;
    run.PortA = mark.PortA;
    run.PortB = mark.PortB;
    run.AddressA = m.MFCADetails.ModBusAddress;
    run.AddressB = m.MFCBDetails.ModBusAddress;
    run.SerialA = m.MFCADetails.Serial;
    run.SerialB = m.MFCBDetails.Serial;
    run.DataFile = mark.DataFile;
    run.RecipeFile = recipePath;
    if (const TCodeSiteDestination* log = FormLogger().Destination(); log && log->LogFile.Active)
        run.LogFile = (std::filesystem::path(log->LogFile.FilePath) / log->LogFile.FileName).string();
    run.NoteFile = ctx.RunMarkPath;
    run.GuardSeconds = m.GuardTimeout_s;
    run.StopRetrySeconds = ctx.GuardianStopRetrySeconds;
    ctx.GuardianHolds = false;
    if (!ctx.Guardian.Start(run, error)) RunLog(ctx, "The guardian could not be started (" + error + "): the run goes on unguarded");
}

// What the guardian has to say, on every tick. True while it holds the instruments: the tick
// then does nothing. A guardian that took the instruments over has found this program frozen:
// the program commands them no more, ends its worker (whose exchanges are refused now) and ends
// the run on the guardian's account.
bool ServeGuardian(TRunContext& ctx) {
    TMixer& m = ctx.Mixer;
    switch (ctx.Guardian.Poll()) {
        case TGuardianLink::TNews::gnNone:
            break;
        case TGuardianLink::TNews::gnRestarted:
        case TGuardianLink::TNews::gnUnguarded:
            RunLog(ctx, ctx.Guardian.Message());
            break;
        case TGuardianLink::TNews::gnTakingOver: {
            ctx.GuardianHolds = true;
            ctx.StopCause = TStopCause::scGuardian;
            RunLog(ctx, "The guardian has taken the instruments over (this program gave no sign of life for " +
                            FormatGeneral(m.GuardTimeout_s) + " s): they are not commanded from here any more");
            m.MixerState = TMixerState::msStopping;
            m.FlowStatus.SegmentAverage = 0;
            m.Form.RzLEDDisplay1.SetCaption("Stopping");
            m.Form.ButtonAddStep.SetEnabled(true);
            m.Form.ButtonSegmentDelete.SetEnabled(true);
            // What the tick or the stop procedure has under way is refused now (nothing of it is
            // sent any more) and counts for nothing; what has not begun is dropped.
            {
                TTickExchanges& x = ctx.Pending;
                x.Pump.Abandon();
                x.StopPump.Abandon();
                for (const std::string* port : {&m.PumpDetails.Port, &m.MFCADetails.ComPortName, &m.MFCBDetails.ComPortName})
                    Exchanges(ctx).DropPending(*port);
                x.B.Reset();
                x.Pump.Reset();
                x.StopPump.Reset();
                x.StopJob.Reset();
                x.StopPhase = TStopPhase::spNone;
                x.Segment += 1;
            }
            // The guardian writes the run data file's last line.
            ctx.DataFile.Close();
            // No tick meanwhile: the hand-overs served while the worker ends may run timer events.
            m.TickReady = false;
            StopAndKillThread(ctx);
            m.TickReady = true;
            break;
        }
        case TGuardianLink::TNews::gnTookOver:
            ctx.GuardianHolds = false;
            RunLog(ctx, "Guardian: " + ctx.Guardian.Account());
            // Its mark stays, with the guardian's account in it, for the next start to tell.
            ctx.RunMarkPath.clear();
            if (ctx.Guardian.AllConfirmed()) {
                m.MixerState = TMixerState::msReady;
                m.Form.RzLEDDisplay1.SetCaption("Stopped");
                m.PumpDetails.Status = "@";
            } else {
                RunLog(ctx, "Could not stop flow!");
                m.Form.SetCaption(CouldNotStopFlow);
                m.Form.RzLEDDisplay1.SetCaption(CouldNotStopFlow);
                m.MixerState = TMixerState::msStopFailed;
            }
            break;
    }
    return ctx.GuardianHolds;
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

TExchangeTicket<bool> SetMFCFlow(TRunContext& ctx, TMFCDetails details, double flow) {
    return SubmitExchange<bool>(Exchanges(ctx), details.ComPortName,
                                [details, flow](const std::atomic<bool>&) { return WriteSetPoint(details, flow); });
}

void TellSetMFCFlow(TRunContext& ctx, const TMFCDetails& details, double flow, bool accepted) {
    if (accepted)
        RunLog(ctx, details.MFCName + " flow set to :" + FormatGeneral(flow) + " g/min");
    else
        RunLog(ctx, "Failed to set " + details.MFCName + " flow to :" + FormatGeneral(flow) + " g/min");
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
            ctx.Guardian.Beat();
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
        // Once the guardian has taken the instruments over, its account stays the file's last line.
        if (!ExchangesBarred()) AddRunDataRow(ctx, readings);
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
    ctx.RecipePath = recipePath;

    ctx.ThreadData.StepMFCASet = false;
    ctx.ThreadData.StepMFCBSet = false;
    ctx.ThreadData.StepPumpSet = false;
    ctx.ThreadData.In_ToStop = false;
    // Readings of an earlier run must not stand for this one until the worker's first hand-over.
    ctx.ThreadData.SomethingToTell = false;
    m.FlowStatus.Reset();
    ctx.StopCause = TStopCause::scNone;
    // Results of an earlier run's exchanges, should any still come, count for nothing here.
    ctx.Pending.Segment += 1;
    ctx.Pending.B.Reset();
    ctx.Pending.Pump.Reset();
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
    if (!ctx.DataFile.Open(dataPath, besideRecipe ? std::filesystem::path(recipePath).filename().string() : recipePath,
                           RunDataComments(m)))
        RunLog(ctx, ctx.DataFile.FailureText());

    StartRunGuardian(ctx, recipePath);

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

void StopMixer(TRunContext& ctx) { StopProcedureTick(ctx); }

bool StopProcedureRunning(const TRunContext& ctx) { return ctx.Pending.StopPhase != TStopPhase::spNone; }

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
        case TMixerState::msStopping:
            StopMixer(ctx);
            break;
        case TMixerState::msReady:
            // The warnings too: no flow is judged outside a run.
            for (int i = 0; i < TStatusBar::PanelCount; ++i) form.StatusBar1.SetPanel(i, "");
            SetLockedPages(form, true);
            break;
        case TMixerState::msOperating:
            OperatingPass(ctx);
            // The program's end begins the stop procedure in the same tick: gas A, which the
            // pump's stop comes before, stops a tick sooner.
            if (m.MixerState == TMixerState::msStopping && ctx.StopCause == TStopCause::scProgramEnd &&
                !StopProcedureRunning(ctx))
                StopMixer(ctx);
            break;
    }
    TellRunStateToClaim(ctx);
    if (ctx.OnTick) ctx.OnTick();
}

void Timer1Timer(TRunContext& ctx) {
    ctx.Guardian.Beat();
    // A log file lost meanwhile (disk full, file deleted) is told once in the window's log.
    if (const std::string lost = TakeLogFileFailure(); !lost.empty()) RunLog(ctx, lost);
    if (!ctx.Mixer.TickReady) return;
    // While the guardian holds the instruments this program commands none of them.
    if (ServeGuardian(ctx)) return;
    Tick(ctx, ctx.Mixer.TickReady);
}

void GuardedTimer1Timer(TRunContext& ctx, const std::function<void(const std::string&)>& showFailure) {
    std::string what;
    try {
        Timer1Timer(ctx);
        return;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown error";
    }
    TMixer& m = ctx.Mixer;
    // The tick's Done flag is set again on every way out of Tick; the next tick must run.
    m.TickReady = true;
    std::string text = "The run's tick failed: " + what;
    switch (m.MixerState) {
        case TMixerState::msOperating:
            text += ". The stop procedure runs.";
            RunLog(ctx, text);
            ButtonStopClick(ctx);
            break;
        case TMixerState::msStopping:
            // The stop procedure itself failed: nothing is confirmed stopped.
            text += ". The stop procedure did not end: press Stop to repeat it.";
            RunLog(ctx, text);
            RunLog(ctx, "Could not stop flow!");
            m.Form.SetCaption(CouldNotStopFlow);
            m.Form.RzLEDDisplay1.SetCaption(CouldNotStopFlow);
            m.MixerState = TMixerState::msStopFailed;
            break;
        default:
            RunLog(ctx, text);
            break;
    }
    if (showFailure && text != ctx.LastTickFailure) {
        ctx.LastTickFailure = text;
        showFailure(text);
    }
}

void EndRunGuardian(TRunContext& ctx) {
    ctx.Guardian.Finish();
    ClearRunMark(ctx.RunMarkPath);
    ctx.RunMarkPath.clear();
}

void BindRunButtons(TRunContext& ctx) {
    ctx.Mixer.Form.ButtonApply.OnClick = [&ctx](TControl&) { ButtonApplyClick(ctx); };
    ctx.Mixer.Form.ButtonStop.OnClick = [&ctx](TControl&) { ButtonStopClick(ctx); };
}

}  // namespace moirex

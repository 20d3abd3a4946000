#pragma once
// The run controller: Start, Stop, the 50 ms tick that drives the segment program, the stop
// procedure, and the main thread's set-point write to a mass flow controller.
//
// Everything here runs on the main thread. The context ties the mixer state to the worker
// (TMFCThread), the hand-over that runs the worker's DataExchange on the main thread, and the
// clock. The segment clock is the monotonic clock of the context: StepStartTime in the mixer
// state stays a date-time for display only, so a clock change cannot end a segment early or late.
//
// Typical headless use (the window does the same from its timer and buttons):
//     TQueuedHandOver handOver;
//     TRunContext run(mixer, handOver);
//     mixer.TickReady = true;            // start-up does this in the program
//     ButtonApplyClick(run);             // Start
//     while (...) { handOver.processPending(); Timer1Timer(run); sleep 50 ms; }
//     ButtonStopClick(run);              // Stop; the next ticks run the stop procedure
// A run has ended when MixerState is msReady or msStopFailed after it was msOperating, and
// WorkerRunning(run) is false.
//
// The tick never waits for an instrument: it starts the segment's exchanges (MFC B's set-point,
// the pump's command) and the stop procedure's, through the context's exchange executor, and takes
// their results on later ticks (TickStep.h says what a tick does, in order). So Stop, a new
// segment's gas A for the worker and the worker's hand-overs are served at once however long an
// exchange takes, and no handler runs inside another. The stop procedure runs over several ticks:
// MixerState stays msStopping until it ends in msReady or msStopFailed.
//
// No routine here waits for the operator: refusals of Start and Stop are message boxes of the
// mixer's Dialogs (the window shows them; headless callers give a Dialogs that prints), and every
// message of the pump driver goes to the run log (MemoLog).

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/GuardianLink.h"
#include "core/MainThreadHandOver.h"
#include "core/RunDataFile.h"
#include "core/ThreadData.h"
#include "core/TickStep.h"
#include "devices/PSD4_Interface.h"
#include "state/MixerState.h"
#include "support/Clock.h"
#include "support/DateTime.h"
#include "support/ExchangeExecutor.h"

namespace moirex {

class TMFCThread;
class TMemo;

// Refusal texts of Start and Stop.
inline constexpr const char* InstrumentsNotInitialized = "Instruments not initialized. Cannot proceed.";
inline constexpr const char* MixerNotReady = "Mixer is not ready. Stop current instructions first.";
inline constexpr const char* NoSegmentProgram = "No segment program to execute.";
// The pump command of a segment without fluid: valve to input, fill the syringe, valve to output.
inline constexpr const char* NoFluidPumpCommand = "IV6000A24000OR";
inline constexpr const char* CouldNotStopFlow =
    "Could not stop flow! Manually power off the mixer to ensure flow is stopped!";

// What the hand-over observer receives after each of the worker's hand-overs.
struct THandOverReadings {
    // The worker's readings, as FlowStatus now holds them.
    TFlowStatus FlowStatus;
    // The segment these readings belong to, 1-based: the one under which the worker took them
    // (a hand-over that passes on a new segment carries readings of the one before); 0 for
    // readings taken after the program ended or a stop was asked for: readings of the stop
    // procedure belong to no segment (CurrentStep is back at 0 by then and would name the first).
    int32_t Segment = 0;
    // False when the hand-over carries no reading that an earlier one did not (a pass that
    // failed hands its missing reading over once): the run data file has one row per reading.
    bool NewReading = false;
};

// Why the running program stopped (the first reason counts).
enum class TStopCause : uint8_t {
    scNone,        // still running, or never started
    scProgramEnd,  // the last segment's time ran out
    scStopButton,  // Stop
    scOutage,      // MFC A or MFC B did not answer for longer than the outage limit
    scIdentity,    // an instrument on one of the run's ports is not the one validated
    scGuardian,    // this program froze and its guardian stopped the instruments
};

// The pump timing of a run: the pump answers within a few milliseconds, and the poll period only
// sets how soon its answer is looked at. A short one keeps the stop procedure's pump stop, which
// comes before gas A is stopped, at a fraction of a second instead of two exchanges of at least a
// third of a second each; the read-out time-out stays the pump's second.
inline constexpr TPumpPortTiming RunPumpTiming{20, 1000};

// A pump action's outcome, with the driver's messages for the run log: they are collected on the
// exchange's thread and told on the main thread when the result is taken.
struct TPumpOutcome {
    bool Ok = false;
    std::vector<std::string> Messages;
};

// The exchanges the tick and the stop procedure have under way, and what they stand for.
struct TTickExchanges {
    // Counts segment changes of the run: a result that comes in after its segment is over is told,
    // but does not count for the next one.
    int64_t Segment = 0;
    TExchangeTicket<bool> B;
    double BFlow = 0;
    int64_t BSegment = 0;
    TExchangeTicket<TPumpOutcome> Pump;
    std::string PumpCommand;
    int64_t PumpSegment = 0;
    // The stop procedure.
    TStopPhase StopPhase = TStopPhase::spNone;
    TExchangeTicket<TPumpOutcome> StopPump;
    TExchangeTicket<bool> StopJob;  // a zero set-point
    bool FluidStopped = false;
    bool MFCAStopped = false;
    bool MFCBStopped = false;
};

struct TRunContext {
    explicit TRunContext(TMixer& mixer, TMainThreadHandOver& handOver, Clock& clock = SystemClock());
    // Stops and frees a worker that is still running (its hand-overs are served meanwhile).
    ~TRunContext();
    TRunContext(const TRunContext&) = delete;
    TRunContext& operator=(const TRunContext&) = delete;

    TMixer& Mixer;
    TMainThreadHandOver& HandOver;
    // Segment clock and the stop procedure's waits.
    Clock& Clk;
    // The worker's pauses (50 ms between passes, 1 s after a failed exchange) and its sample
    // times; the same clock unless a test wants the tick on a manual clock and the worker real.
    Clock* WorkerClock = nullptr;

    TThreadData ThreadData;
    std::unique_ptr<TMFCThread> MFCThread;
    // Monotonic time (Clk) at which the current segment started.
    double StepStartSeconds = 0;

    // The folder of the recipe file written at Start; empty: the mixer's Userdata folder.
    std::string UserdataFolder;
    // The run data file of a run, one row per hand-over of the worker: "Run yyyy-mm-dd hh.mm.ss.csv"
    // beside the recipe file, or this path when one is given (moirexctl run --data). The recipe
    // and the data file name each other. A failure to write it is told once in the run log and
    // the run goes on.
    std::string DataFilePath;
    TRunDataFile DataFile;
    // The segment (1-based; 0: none) under which the worker takes its readings until its next
    // hand-over: the run data row of a reading names it.
    int32_t ReadingSegment = 0;
    // The recipe file of the run that started last (empty before the first).
    std::string RecipePath;
    // Monotonic time (Clk) of Start, for the data file's seconds.
    double RunStartSeconds = 0;
    // The longest of the stop procedure's random waits between looks at the worker (ms, the
    // random wait is 0 .. this − 1). Through Clk, so a test clock makes them instant. Short, so
    // that the stop request reaches the worker at its next hand-over and gas A stops at once.
    int32_t StopPollMaxMs = 10;
    // Poll period and read-out time-out of the pump objects of the tick and the stop procedure.
    TPumpPortTiming PumpTiming = RunPumpTiming;
    // Local date-time for display and records; a test may fix it.
    std::function<TDateTime()> Now;

    // Observers, all called on the main thread.
    // Every line that reaches the run log (MemoLog) or MemoSetupFeedback, as it is added there
    // (with its time stamp; a worker message of several lines is one entry).
    std::function<void(const TMemo& memo, const std::string& line)> OnLogLine;
    // After each of the worker's hand-overs, once FlowStatus holds its readings.
    std::function<void(const THandOverReadings&)> OnHandOver;

    // Why the program stopped; scNone from Start until the first stop reason.
    TStopCause StopCause = TStopCause::scNone;
    // Monotonic time (Clk) since which MFC A / MFC B has had no reading (-1: it answers).
    double OutageSinceA = -1;
    double OutageSinceB = -1;

    // Called on the main thread at the end of every tick, in every state (a heartbeat: the tick
    // never waits for an instrument, so a tick that does not come means a frozen program).
    std::function<void()> OnTick;

    // Where the tick's and the stop procedure's exchanges run: one thread per port of this
    // context unless another executor is given (tests give TInlineExchanges to follow them tick
    // by tick).
    TExchangeExecutor* Exchanges = nullptr;
    TPortThreads OwnExchanges;
    TTickExchanges Pending;

    // The window caption that a failed stop's alarm replaced; it comes back once a stop succeeds.
    std::string CaptionBeforeStopFailed;

    // The guardian of each run (moirex-guard, core/GuardianLink.h): started at Start when
    // StartGuardian is set (the window and moirexctl run; tests of the run controller leave it
    // off), beaten by every tick, told at the end of the stop procedure. Holder names this program
    // in the guardian's records; GuardianStopRetrySeconds is how long it repeats a stop it could
    // not confirm.
    bool StartGuardian = false;
    std::string Holder = "Moirex window";
    double GuardianStopRetrySeconds = 60;
    TGuardianLink Guardian;
    // The run's mark in the unended-run folder (core/UnendedRun.h); empty without a guardian.
    std::string RunMarkPath;
    // True from the guardian's take-over until its account has come: no tick runs meanwhile.
    bool GuardianHolds = false;
    // The last failure of a tick shown to the operator (GuardedTimer1Timer).
    std::string LastTickFailure;

    // The run's state last written into the process's claim, when (Clk), and in which mixer state.
    std::string ClaimRunState;
    double ClaimRunStateAt = -1e9;
    TMixerState ClaimRunMixerState = TMixerState::msSimulation;

    // Internal: the random waits of the stop procedure.
    std::minstd_rand Random{20240229};
};

// Start: the recipe file, the checks, the worker, msOperating.
void ButtonApplyClick(TRunContext& ctx);
// Stop: msStopping (or only the refusal in msSimulation); the stop itself runs in the next tick.
void ButtonStopClick(TRunContext& ctx);
// The 50 ms timer: runs Tick when TickReady, with TickReady as its Done flag.
void Timer1Timer(TRunContext& ctx);
// One tick by MixerState. Done is false while it runs and true on every exit.
void Tick(TRunContext& ctx, bool& Done);
// One step of the stop procedure (pump, worker, MFC A and MFC B; then msReady or msStopFailed),
// run by each tick in msStopping.
void StopMixer(TRunContext& ctx);
// True while a stop procedure is under way (begun and not concluded).
bool StopProcedureRunning(const TRunContext& ctx);
// Stops any previous worker, then makes a new one (not started).
void StartThread(TRunContext& ctx);
// Asks the worker to stop, serves its hand-overs until it has ended, and frees it.
void StopAndKillThread(TRunContext& ctx);
// Starts writing `flow` (g/min) to the set-point register of the controller; the ticket's result
// is true when it was accepted. TellSetMFCFlow logs the outcome to the run log.
TExchangeTicket<bool> SetMFCFlow(TRunContext& ctx, TMFCDetails details, double flow);
void TellSetMFCFlow(TRunContext& ctx, const TMFCDetails& details, double flow, bool accepted);

// The window's timer: Timer1Timer with every exception that escapes it caught, so that the
// program goes on. A tick that fails during a run starts the stop procedure (it runs in the next
// tick); one that fails in the stop procedure ends in msStopFailed with its message, and Stop
// repeats it. The failure goes to the run log, and to `showFailure` (a message box in the
// window) unless the same failure is still the last one shown.
void GuardedTimer1Timer(TRunContext& ctx, const std::function<void(const std::string&)>& showFailure);

// The run's end told to its guardian (which then ends) and the run's mark removed: for a caller
// that ends a run whose stop could not be confirmed (StopMixer does it when it confirms the stop).
void EndRunGuardian(TRunContext& ctx);

// True between Start and the end of the stop procedure (a worker exists).
bool WorkerRunning(const TRunContext& ctx);
// The running segment, 1-based, in msOperating; 0 otherwise.
int32_t RunningSegment(const TRunContext& ctx);

// Connects ButtonApply and ButtonStop of the mixer's window to Start and Stop of this context.
void BindRunButtons(TRunContext& ctx);

}  // namespace moirex

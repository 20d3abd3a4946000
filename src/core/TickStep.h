#pragma once
// What one tick of the run controller does, decided from what it knows now: the pure part of the
// tick, kept apart from the part that carries it out (RunController.cpp) so that the order of a
// tick can be read and tested as a table.
//
// The tick never waits for an instrument. It starts an exchange (MFC B's set-point, the pump's
// command, a step of the stop procedure) and takes its result on a later tick; while an exchange is
// under way the tick only looks at it. The actions of one tick come in the order they are listed
// here, which is the order the operator and the run log see.

#include <cstdint>
#include <vector>

namespace moirex {

// An instrument exchange as the tick sees it.
enum class TJobState : uint8_t {
    jsNone,   // none under way, no result to take
    jsBusy,   // under way
    jsReady,  // its result is there to be taken
};

enum class TTickAction : uint8_t {
    // operating
    taEndProgramNoSegment,  // the position names no segment: "Tick:Stop"
    taShowReadings,         // the worker's readings on the status bar and the graph
    taHandOverA,            // gas A of the segment to the worker ("A Handled")
    taTakeB,                // MFC B's set-point result: logged, StepMFCBSet on success
    taStartB,               // "B Handled", MFC B's set-point write started
    taTakePump,             // the pump command's result
    taStartPump,            // "C Trying to handle (...)", the pump command started
    taCheckLimits,          // outage limit and replaced instruments; may stop the run
    taStatusText,           // RunStatusText from the segment clock
    taNextSegment,          // the segment's time is up and another follows
    taEndProgram,           // the last segment's time is up: msStopping, "Tick:Stop"
    taShowStatus,           // the display: RunStatusText, or that a reading is missing
    // stop procedure
    taBeginStop,       // display "Stopping.", pending exchanges dropped, the pump stop started
    taTakePumpStop,    // "Pump stopped" / "Failed to stop pump"
    taAskWorkerToStop, // the worker is asked to stop
    taWorkerStopped,   // "Thread Stopped"
    taJoinWorker,      // the worker's body has ended: it is freed
    taStartMFCAZero,   // MFC A's zero set-point started
    taTakeMFCAZero,    // "MFC A commanded to stop"
    taStartMFCBZero,
    taTakeMFCBZero,    // "MFC B commanded to stop"
    taConcludeStop,    // msReady ("Stopped") or msStopFailed
};

struct TOperatingFacts {
    bool PositionValid = true;  // CurrentStep names a segment of the program
    bool SomethingToTell = false;
    bool ASet = false;
    bool BSet = false;
    bool PumpSet = false;
    TJobState B = TJobState::jsNone;
    TJobState Pump = TJobState::jsNone;
    // The segment has a duration and it has run out: its instruments are not tried again.
    bool TimeUp = false;
    // The segment ends in this tick: its time has run out, or it has none.
    bool SegmentOver = false;
    bool LastSegment = false;
};

// The operating pass. taCheckLimits may end the pass (the thin part stops there when it stopped
// the run).
std::vector<TTickAction> OperatingStep(const TOperatingFacts& facts);

// Where the stop procedure stands.
enum class TStopPhase : uint8_t {
    spNone,    // not under way: the next stopping tick begins it
    spPump,    // the pump's stop is under way
    spWorker,  // the worker has been asked to stop
    spWorkerEnding,  // the worker has stopped; its last hand-over and end are awaited
    spMFCA,    // MFC A's zero set-point is under way
    spMFCB,    // MFC B's zero set-point is under way
};

struct TStopFacts {
    TStopPhase Phase = TStopPhase::spNone;
    TJobState Job = TJobState::jsNone;  // the exchange of the phase
    bool WorkerExists = false;
    bool WorkerStopped = false;  // its Stopped flag
    bool WorkerEnded = false;    // its body has ended
};

struct TStopStep {
    std::vector<TTickAction> Actions;
    TStopPhase Next = TStopPhase::spNone;
};

// One stopping tick: what is done and where the procedure stands afterwards. Once the worker is
// gone and MFC B's result is taken the procedure concludes and Next is spNone again.
TStopStep StopStep(const TStopFacts& facts);

}  // namespace moirex

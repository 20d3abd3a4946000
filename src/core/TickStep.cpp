#include "core/TickStep.h"

namespace moirex {

std::vector<TTickAction> OperatingStep(const TOperatingFacts& f) {
    using A = TTickAction;
    if (!f.PositionValid) return {A::taEndProgramNoSegment};
    std::vector<A> out;
    if (f.SomethingToTell) out.push_back(A::taShowReadings);
    if (!f.ASet) out.push_back(A::taHandOverA);
    // A result is taken first, so that a refused set-point is tried again in the same tick.
    // A segment whose time is up starts nothing more: the next segment's set-points must not
    // queue behind exchanges for the one that is over.
    // (Start after Take: the thin part starts nothing when the result just taken was a success.)
    if (f.B == TJobState::jsReady) out.push_back(A::taTakeB);
    if (!f.BSet && f.B != TJobState::jsBusy && !f.TimeUp) out.push_back(A::taStartB);
    if (f.Pump == TJobState::jsReady) out.push_back(A::taTakePump);
    if (!f.PumpSet && f.Pump != TJobState::jsBusy && !f.TimeUp) out.push_back(A::taStartPump);
    out.push_back(A::taCheckLimits);
    out.push_back(A::taStatusText);
    if (f.SegmentOver) out.push_back(f.LastSegment ? A::taEndProgram : A::taNextSegment);
    out.push_back(A::taShowStatus);
    return out;
}

TStopStep StopStep(const TStopFacts& f) {
    using A = TTickAction;
    using P = TStopPhase;
    TStopStep s;
    auto afterWorker = [&s] {
        s.Actions.push_back(A::taStartMFCAZero);
        s.Next = P::spMFCA;
    };
    switch (f.Phase) {
        case P::spNone:
            s.Actions.push_back(A::taBeginStop);
            s.Next = P::spPump;
            return s;
        case P::spPump:
            s.Next = P::spPump;
            if (f.Job != TJobState::jsReady) return s;
            s.Actions.push_back(A::taTakePumpStop);
            if (!f.WorkerExists) {
                afterWorker();
                return s;
            }
            s.Actions.push_back(A::taAskWorkerToStop);
            s.Next = P::spWorker;
            // The worker stops on its own thread: its stop is looked at from the next tick on.
            return s;
        case P::spWorker:
            s.Next = P::spWorker;
            if (!f.WorkerExists) {
                afterWorker();
                return s;
            }
            if (!f.WorkerStopped) return s;
            s.Actions.push_back(A::taWorkerStopped);
            s.Next = P::spWorkerEnding;
            [[fallthrough]];
        case P::spWorkerEnding:
            s.Next = P::spWorkerEnding;
            if (f.WorkerExists && !f.WorkerEnded) return s;
            if (f.WorkerExists) s.Actions.push_back(A::taJoinWorker);
            afterWorker();
            return s;
        case P::spMFCA:
            s.Next = P::spMFCA;
            if (f.Job != TJobState::jsReady) return s;
            s.Actions.push_back(A::taTakeMFCAZero);
            s.Actions.push_back(A::taStartMFCBZero);
            s.Next = P::spMFCB;
            return s;
        case P::spMFCB:
            s.Next = P::spMFCB;
            if (f.Job != TJobState::jsReady) return s;
            s.Actions.push_back(A::taTakeMFCBZero);
            s.Actions.push_back(A::taConcludeStop);
            s.Next = P::spNone;
            return s;
    }
    return s;
}

}  // namespace moirex

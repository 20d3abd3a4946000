// What one tick does, as a table: the operating pass and the stop procedure's steps.

#include "core/TickStep.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace moirex {
namespace {

using A = TTickAction;
using J = TJobState;
using P = TStopPhase;

std::string Names(const std::vector<TTickAction>& actions) {
    static const char* names[] = {"EndProgramNoSegment", "ShowReadings", "HandOverA", "TakeB", "StartB",
                                  "TakePump", "StartPump", "CheckLimits", "StatusText", "NextSegment",
                                  "EndProgram", "ShowStatus", "BeginStop", "TakePumpStop", "AskWorkerToStop",
                                  "WorkerStopped", "JoinWorker", "StartMFCAZero", "TakeMFCAZero",
                                  "StartMFCBZero", "TakeMFCBZero", "ConcludeStop"};
    std::string s;
    for (TTickAction a : actions) s += std::string(s.empty() ? "" : " ") + names[static_cast<int>(a)];
    return s;
}

TEST(TickStep, OperatingPass) {
    struct Case {
        const char* what;
        TOperatingFacts facts;
        const char* actions;
    };
    auto facts = [](auto edit) {
        TOperatingFacts f;
        f.ASet = f.BSet = f.PumpSet = true;
        edit(f);
        return f;
    };
    const Case cases[] = {
        {"settled segment: only readings, clock and display", facts([](auto& f) { f.SomethingToTell = true; }),
         "ShowReadings CheckLimits StatusText ShowStatus"},
        {"new segment: A handed over, B and the pump started",
         facts([](auto& f) { f.ASet = f.BSet = f.PumpSet = false; }),
         "HandOverA StartB StartPump CheckLimits StatusText ShowStatus"},
        {"exchanges under way: looked at, nothing started again",
         facts([](auto& f) { f.BSet = f.PumpSet = false; f.B = J::jsBusy; f.Pump = J::jsBusy; }),
         "CheckLimits StatusText ShowStatus"},
        {"results in: taken, and started again should they have failed",
         facts([](auto& f) { f.BSet = f.PumpSet = false; f.B = J::jsReady; f.Pump = J::jsReady; }),
         "TakeB StartB TakePump StartPump CheckLimits StatusText ShowStatus"},
        {"a result of a segment that is over is still taken",
         facts([](auto& f) { f.B = J::jsReady; }), "TakeB CheckLimits StatusText ShowStatus"},
        {"time up: no new tries for the segment that is over, the next one follows",
         facts([](auto& f) { f.BSet = f.PumpSet = false; f.TimeUp = f.SegmentOver = true; }),
         "CheckLimits StatusText NextSegment ShowStatus"},
        {"segment of no duration: handed over and ended in the same tick",
         facts([](auto& f) { f.ASet = f.BSet = f.PumpSet = false; f.SegmentOver = true; }),
         "HandOverA StartB StartPump CheckLimits StatusText NextSegment ShowStatus"},
        {"last segment's time up: the program ends",
         facts([](auto& f) { f.TimeUp = f.SegmentOver = f.LastSegment = true; }),
         "CheckLimits StatusText EndProgram ShowStatus"},
        {"no segment at the position", facts([](auto& f) { f.PositionValid = false; f.SomethingToTell = true; }),
         "EndProgramNoSegment"},
    };
    for (const Case& c : cases) EXPECT_EQ(Names(OperatingStep(c.facts)), c.actions) << c.what;
}

TEST(TickStep, StopProcedure) {
    struct Case {
        const char* what;
        TStopFacts facts;
        const char* actions;
        P next;
    };
    auto facts = [](P phase, J job, bool exists, bool stopped = false, bool ended = false) {
        TStopFacts f;
        f.Phase = phase;
        f.Job = job;
        f.WorkerExists = exists;
        f.WorkerStopped = stopped;
        f.WorkerEnded = ended;
        return f;
    };
    const Case cases[] = {
        {"begins with the pump", facts(P::spNone, J::jsNone, true), "BeginStop", P::spPump},
        {"waits for the pump", facts(P::spPump, J::jsBusy, true), "", P::spPump},
        {"pump done: the worker is asked", facts(P::spPump, J::jsReady, true), "TakePumpStop AskWorkerToStop",
         P::spWorker},
        {"pump done, no worker: MFC A at once", facts(P::spPump, J::jsReady, false), "TakePumpStop StartMFCAZero",
         P::spMFCA},
        {"worker still running", facts(P::spWorker, J::jsNone, true), "", P::spWorker},
        {"worker stopped, last hand-over to come", facts(P::spWorker, J::jsNone, true, true), "WorkerStopped",
         P::spWorkerEnding},
        {"worker stopped and ended in one tick", facts(P::spWorker, J::jsNone, true, true, true),
         "WorkerStopped JoinWorker StartMFCAZero", P::spMFCA},
        {"worker ended", facts(P::spWorkerEnding, J::jsNone, true, true, true), "JoinWorker StartMFCAZero", P::spMFCA},
        {"MFC A's zero under way", facts(P::spMFCA, J::jsBusy, false), "", P::spMFCA},
        {"MFC A's zero done: MFC B's", facts(P::spMFCA, J::jsReady, false), "TakeMFCAZero StartMFCBZero", P::spMFCB},
        {"MFC B's zero done: the end", facts(P::spMFCB, J::jsReady, false), "TakeMFCBZero ConcludeStop", P::spNone},
    };
    for (const Case& c : cases) {
        const TStopStep step = StopStep(c.facts);
        EXPECT_EQ(Names(step.Actions), c.actions) << c.what;
        EXPECT_EQ(step.Next, c.next) << c.what;
    }
}

}  // namespace
}  // namespace moirex

#pragma once
// The hand-over record between the run controller's tick and the MFC worker.
//
// Every field is read and written on the main thread only: the tick writes the In_ fields and
// the Step flags, and the worker's hand-over routine, which the worker runs on the main thread
// through the hand-over interface (MainThreadHandOver.h) while it waits, copies them into the
// worker and writes Out_Stopped and SomethingToTell. The hand-over's wait orders these accesses,
// so the record needs no atomics. The one value that does cross threads without the hand-over —
// the worker's own "stopped" flag that the stop procedure polls — is a std::atomic<bool> of the
// worker, not of this record.

#include <string>

#include "state/GasMixtures.h"

namespace moirex {

struct TThreadData {
    TGasItem In_MixD;            // the gas A component of the running segment
    bool In_NewSegment = false;  // tick sets, hand-over clears: In_MixD (or the segment) is new
    // When the segment of In_MixD began, on the segment clock (monotonic seconds): the worker
    // counts the segment's gas A from then, not from when it learnt of the segment.
    double In_SegmentStartSeconds = 0;
    bool In_ToStop = false;      // Start clears, stop procedure sets: the worker is asked to stop
    bool Out_Stopped = false;    // copy of the worker's Stopped at each hand-over
    std::string Out_Message;     // not used
    bool SomethingToTell = false;  // hand-over sets, tick clears: FlowStatus holds unshown readings
    // Hand-over sets: this hand-over carries a reading not handed over before (one run data row
    // per reading), taken under the segment in force before this hand-over's In_NewSegment.
    bool Out_NewReading = false;
    bool StepMFCASet = false;    // gas A of the current segment has been handed to the worker
    bool StepMFCBSet = false;    // MFC B has accepted the set-point of the current segment
    bool StepPumpSet = false;    // the pump has accepted the command of the current segment
};

}  // namespace moirex

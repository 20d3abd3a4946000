#pragma once
// The MFC worker: a thread that keeps the delivered mass of gas A on target and samples gas B,
// from Start to the end of the stop procedure.
//
// Each pass reads MFC A (set-point, measured flow, totalizer) and MFC B's measured flow, lets
// TMFCPassRules decide the set-point of MFC A and writes it. MFC B is only sampled: while it does
// not answer its flow reads -1 and it is asked again once a second, but gas A's control goes on.
// Once a pass it hands over to the main thread (DataExchange, run there through the hand-over
// while the worker waits): the tick's new segment and stop request come in, the readings and the
// memo lines go out. After the loop MFC A
// gets a zero set-point, Stopped becomes true, and one last hand-over follows. A stop request
// ends the loop right after the hand-over that brought it.
//
// Across threads without the hand-over only Stopped, ToStop's copy and the end of the body are
// read; they are atomics. Everything else of the worker is touched on the main thread only inside
// DataExchange, while the worker waits for it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "core/MFCPassRules.h"
#include "core/MainThreadHandOver.h"
#include "core/ThreadData.h"
#include "state/InstrumentRecords.h"
#include "state/MixerState.h"
#include "support/Clock.h"

namespace moirex {

class TMFCThread {
public:
    // memoLog: puts one entry into the run log (main thread, from DataExchange).
    TMFCThread(TThreadData& threadData, TFlowStatus& flowStatus, TMainThreadHandOver& handOver,
               Clock& clock, int32_t maTickSize, std::string gasBPort,
               std::function<void(const std::string&)> memoLog);
    // Asks the loop to end and waits for the body; the caller serves the hand-overs first
    // (StopAndKillThread), or a closed hand-over lets the worker end by itself.
    ~TMFCThread();
    TMFCThread(const TMFCThread&) = delete;
    TMFCThread& operator=(const TMFCThread&) = delete;

    // Starts the thread (once); MFCD, rules.LowFlow and rules.MixD are set before.
    void Start();
    // Waits for the body to end; call only once BodyEnded() is true or the hand-over is served.
    void Join();
    // True once the body has ended, after its last hand-over.
    bool BodyEnded() const { return bodyEnded_.load(); }

    // The per-pass rules, with gas A's component (MixD) and LowFlow.
    TMFCPassRules rules;
    // The worker's own copy of MFC A's details.
    TMFCDetails MFCD;
    std::string GasBPort;
    double GasBFlowObserved = 0;  // -1 when the read failed
    double TotalizerNow = 0;      // g
    std::string aMessage;         // memo lines of the pass, each ending in CR LF
    std::atomic<bool> Stopped{false};
    std::atomic<bool> ToStop{false};
    // Main thread: there is news for the worker (a new segment, a stop request). The worker ends
    // its pause, or its pass before the next exchange, so that the news reaches it at once through
    // its next hand-over instead of after the rest of the pass or of a second's pause.
    void Nudge() { nudged_.store(true); }

    // Called on the main thread at the end of every hand-over; set before Start.
    std::function<void()> OnHandOver;
    // The segment clock of In_SegmentStartSeconds (the run controller's); null: a new segment is
    // counted from the worker's first reading after it learnt of it. Set before Start.
    Clock* SegmentClock = nullptr;

    // The worker's exchanges; each makes, uses and frees its own port.
    bool ReadTotalizer(double& Value);
    bool ReadFlow(const std::string& Port, int32_t Addr, double& Flow);
    bool SetFlow(double Flow);
    // The hand-over; main thread.
    void DataExchange();
    // The loop; worker thread.
    void Execute();

private:
    bool HandOver();
    // A pause of `ms` on the worker's clock that ends early when nudged; true when nudged.
    bool Pause(int64_t ms);
    // The pause after MFC A did not answer: a second, or less when nudged.
    void FailurePause();
    void Run();

    TThreadData& threadData_;
    TFlowStatus& flowStatus_;
    TMainThreadHandOver& handOver_;
    Clock& clock_;
    std::function<void(const std::string&)> memoLog_;
    std::thread thread_;
    std::atomic<bool> bodyEnded_{false};
    std::atomic<bool> nudged_{false};
    bool handOverClosed_ = false;  // worker only
    bool newReading_ = false;      // worker only: a reading (or a failed one) not yet handed over
    double nextMFCBRead_ = 0;       // worker only: monotonic time of MFC B's next read after a failure
};

}  // namespace moirex

#pragma once
// The MFC worker's decision of one pass, without threads or ports: from MFC A's totalizer
// reading it keeps the average flow of gas A since the segment began and the moving averages,
// and it tells which set-point, if any, to write to MFC A.
//
// Gas A control, first matching rule:
//  - no gas A (no name, or a wanted flow of 0): a zero set-point, but only while MFC A still
//    shows a flow above 1e-7 g/min;
//  - constant mode (Pulsed >= 0.999): the wanted flow, unless the last set-point written lies
//    within 1e-6 of it;
//  - pulsed mode: while the flow so far is 0 or below the wanted flow (behind), LowFlow unless it
//    is already set (within 1e-6); while it is at or above the wanted flow (ahead), zero, on every
//    such pass.
//
// Elapsed time comes from the monotonic clock (TTotalizerSample::Seconds), never from date-time
// values, so a clock change cannot stretch a segment's average. Date-times are only logged.
//
// The worker's loop uses it as: BeginPass; hand-over (a stop request ends the loop here); read
// the totalizer (on a failed read: the memo line, hand-over, 1 s pause, next pass); read MFC B
// (a failed read only marks B's flow -1); Pass; write the set-point it names and log the matching
// line; 50 ms pause. After the loop: FinalSetPoint.

#include <cmath>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "state/GasMixtures.h"
#include "state/MixerState.h"
#include "support/DateTime.h"

namespace moirex {

// One successful totalizer reading of MFC A.
struct TTotalizerSample {
    double Grams = 0;     // totalizer in grams
    double Seconds = 0;   // when it was read, on the monotonic clock (Clock::MonotonicSeconds)
    TDateTime Time = 0;   // when it was read, local date-time: for the log lines only
};

enum class TGasAMode : uint8_t { gmNoGasA, gmConstant, gmPulsedBehind, gmPulsedAhead };

// A set-point for MFC A, or none.
struct TSetPointWrite {
    bool Write = false;
    double Flow = 0;           // g/min
    std::string LogOnSuccess;  // "Thread." line to log after a successful write; empty: none
    std::string LogOnFailure;  // the same after a failed write
};

struct TPassDecision {
    TGasAMode Mode = TGasAMode::gmNoGasA;
    TSetPointWrite SetPoint;
    std::vector<std::string> Log;  // "Thread." lines of the pass, in order, before the write
};

// Memo lines of the worker (each ends in CR LF).
inline constexpr const char* CouldNotTalkToMFCA = "Could not talk to MFC A, sleep 1 second.";
// MFC B is only sampled: gas A's control goes on while it is silent.
inline constexpr const char* CouldNotTalkToMFCB = "Could not talk to MFC B, gas A control goes on; MFC B again in 1 second.";
// " Thread: <name> flow set to :<flow> g/min" or " Thread: Failed to set <name> flow to :<flow> g/min".
std::string SetFlowMemoLine(const std::string& MFCName, double Flow, bool ok);
// "<hh:mm:ss:zzz> MFC A: permanent stop", the last memo line of the worker.
std::string PermanentStopMemoLine(TDateTime now);

class TMFCPassRules {
public:
    // maTickSize: weight of the moving averages in passes (AverageSampleSize); below 1 counts as 1.
    explicit TMFCPassRules(int32_t maTickSize);

    // The gas A component being targeted; Mass 0 and Pulsed 1 until the first segment arrives.
    TGasItem MixD;
    // Pulse flow in g/min (3 x RangeMin of MFC A's active gas table), set before the worker runs.
    double LowFlow = 0;
    // A new MixD arrived; the totalizer is re-based at the next successful reading.
    bool NewSegment = false;

    // The hand-over's part: MixD := the tick's component, NewSegment := true. segmentStartSeconds:
    // when the segment began on the segment clock, in this object's time (TTotalizerSample::
    // Seconds); the segment's mass is then counted from that moment, not from the first reading
    // after the hand-over, so that gas A delivered between the segment change and the worker's
    // learning of it counts for the segment it went into. NaN: from the next reading.
    void AcceptMixture(const TGasItem& In_MixD, double segmentStartSeconds = std::nan(""));

    // Top of a pass, before its hand-over: counts the pass. Returns the pass number (1, 2, ...).
    int32_t BeginPass();

    // The rest of a pass once the totalizer and MFC B have been read: re-base at a new segment,
    // flow so far, moving averages, gas A decision. currentSetFlow is the last set-point written
    // successfully to MFC A, currentObservedFlow its measured flow of this pass (-1 if not read).
    TPassDecision Pass(const TTotalizerSample& totalizer, double currentSetFlow,
                       double currentObservedFlow);

    // After the loop: MFC A is always set to zero; the result of the write does not matter.
    static TSetPointWrite FinalSetPoint();

    // The readings the hand-over shows: MFCA and MFCB as given, SegmentAverage, MovingAverage
    // and MovingAverageMinutes from this object.
    TFlowStatus Readings(double currentObservedFlow, double GasBFlowObserved) const;

    int32_t PassCount() const { return passes_; }
    int32_t MATickSize() const { return maTickSize_; }
    // Counts passes up to MATickSize; nothing reads it but the log.
    int32_t MATickSizeInitial() const { return maTickSizeInitial_; }

    double TotalizerStart() const { return totalizerStart_; }  // g, at the segment start
    double TotalizerNow() const { return totalizerNow_; }      // g, latest successful reading
    double FlowRateSoFargpm() const { return flowRateSoFar_; }  // g/min since the segment start
    double MovingAverageFlow() const { return movingAverageFlow_; }  // g/min
    double MovingAverageMass() const { return movingAverageMass_; }  // g per pass
    // Moving average of the time between passes, in seconds of the monotonic clock.
    double TimeSoFarMovingAverage() const { return timeSoFarMovingAverage_; }
    // How long the moving average spans: TimeSoFarMovingAverage x MATickSize, in minutes.
    double MovingAverageMinutes() const;

private:
    void MovingAverages(const TTotalizerSample& totalizer, std::vector<std::string>& log);
    TPassDecision GasAControl(double flowSoFar, double currentSetFlow, double currentObservedFlow);

    int32_t maTickSize_;
    int32_t maTickSizeInitial_ = 0;
    int32_t passes_ = 0;

    bool haveSegmentBase_ = false;  // a segment start has been taken from a reading
    double segmentStartSeconds_ = std::nan("");  // the new segment's start, when known
    // The last few successful readings, oldest first: where a new segment's start is placed.
    struct TTimedReading {
        double Seconds = 0;
        double Grams = 0;
    };
    static constexpr size_t kRecentReadings = 4;
    std::deque<TTimedReading> recent_;
    bool haveLastReading_ = false;  // an earlier successful reading exists
    double totalizerStart_ = 0;
    double totalizerStartSeconds_ = 0;
    double totalizerNow_ = 0;
    double lastTotal_ = 0;
    double lastSeconds_ = 0;
    TDateTime lastTime_ = 0;
    double dTotal_ = 0;
    double dSeconds_ = 0;

    double flowRateSoFar_ = 0;
    double movingAverageMass_ = 0;
    double timeSoFarMovingAverage_ = 0;
    double movingAverageFlow_ = 0;
};

}  // namespace moirex

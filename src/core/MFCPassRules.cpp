#include "core/MFCPassRules.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr double kSetPointTolerance = 0.000001;  // a set-point this close counts as written
constexpr double kNoFlowLimit = 0.0000001;       // a measured flow above this is still a flow
constexpr double kConstantModeFrom = 0.999;      // Pulsed at or above this: constant mode
constexpr const char* kSix = "0.000 000";

double SecondsToDays(double seconds) { return seconds / 86400.0; }

}  // namespace

std::string SetFlowMemoLine(const std::string& MFCName, double Flow, bool ok) {
    std::string line = ok ? " Thread: " + MFCName + " flow set to :" + FormatGeneral(Flow) + " g/min"
                          : " Thread: Failed to set " + MFCName + " flow to :" + FormatGeneral(Flow) +
                                " g/min";
    line += CRLF;
    return line;
}

std::string PermanentStopMemoLine(TDateTime now) {
    std::string line = FormatDateTime("hh:mm:ss:zzz", now) + " MFC A: permanent stop";
    line += CRLF;
    return line;
}

TMFCPassRules::TMFCPassRules(int32_t maTickSize) : maTickSize_(maTickSize < 1 ? 1 : maTickSize) {
    MixD.Mass = 0;
    MixD.Pulsed = 1.0f;
}

void TMFCPassRules::AcceptMixture(const TGasItem& In_MixD, double segmentStartSeconds) {
    MixD = In_MixD;
    NewSegment = true;
    segmentStartSeconds_ = segmentStartSeconds;
}

int32_t TMFCPassRules::BeginPass() {
    ++passes_;
    if (maTickSizeInitial_ < maTickSize_) ++maTickSizeInitial_;
    return passes_;
}

TSetPointWrite TMFCPassRules::FinalSetPoint() {
    TSetPointWrite w;
    w.Write = true;
    w.Flow = 0;
    return w;
}

double TMFCPassRules::MovingAverageMinutes() const {
    return timeSoFarMovingAverage_ / 60.0 * maTickSize_;
}

TFlowStatus TMFCPassRules::Readings(double currentObservedFlow, double GasBFlowObserved) const {
    TFlowStatus s;
    s.MFCA = currentObservedFlow;
    s.SegmentAverage = flowRateSoFar_;
    s.MFCB = GasBFlowObserved;
    s.MovingAverage = movingAverageFlow_;
    s.MovingAverageMinutes = MovingAverageMinutes();
    return s;
}

TPassDecision TMFCPassRules::Pass(const TTotalizerSample& totalizer, double currentSetFlow,
                                  double currentObservedFlow) {
    std::vector<std::string> log;
    totalizerNow_ = totalizer.Grams;

    if (NewSegment) {
        log.push_back("Thread. Initialize segment");
        totalizerStart_ = totalizerNow_;
        totalizerStartSeconds_ = totalizer.Seconds;
        // The segment began before this reading: the totalizer at its start is taken on the
        // straight line between the readings around it (the change may even precede the previous
        // reading, when it came between the worker's hand-over and its reading), never further
        // back than the earliest reading kept.
        const double start = segmentStartSeconds_;
        if (!recent_.empty() && start < totalizer.Seconds) {
            TTimedReading later{totalizer.Seconds, totalizerNow_};
            TTimedReading earlier = recent_.back();
            for (auto it = recent_.rbegin(); it != recent_.rend() && later.Seconds > start; ++it) {
                earlier = *it;
                if (earlier.Seconds <= start) break;
                later = earlier;
            }
            if (start <= earlier.Seconds || later.Seconds <= earlier.Seconds) {
                totalizerStart_ = earlier.Grams;
                totalizerStartSeconds_ = earlier.Seconds;
            } else {
                const double share = (start - earlier.Seconds) / (later.Seconds - earlier.Seconds);
                totalizerStart_ = earlier.Grams + (later.Grams - earlier.Grams) * share;
                totalizerStartSeconds_ = start;
            }
        }
        NewSegment = false;
        haveSegmentBase_ = true;
        lastTotal_ = totalizerNow_;
        lastSeconds_ = totalizer.Seconds;
        lastTime_ = totalizer.Time;
        haveLastReading_ = true;
    }

    // Flow so far. Before the first segment has been handed over there is no start to measure
    // from: the span counts as zero (the monotonic clock's origin is no segment start).
    const double mass = totalizerNow_ - totalizerStart_;
    const double spanSeconds = haveSegmentBase_ ? totalizer.Seconds - totalizerStartSeconds_ : 0.0;
    const double spanMinutes = spanSeconds / 60.0;
    double r = 0;
    if (spanSeconds > 0) {
        r = mass / spanMinutes;
        flowRateSoFar_ = r;
    }
    const double wanted = MixD.Mass;
    log.push_back("Thread. SoFarFlow g            : " + FormatMask(mass, kSix));
    log.push_back("Thread. SoFarTimeMin           : " + FormatMask(spanMinutes, kSix));
    log.push_back("Thread. Flowrate so far  g/min : " + FormatMask(r, kSix));
    log.push_back("Thread. Desired flowrate g/min : " + FormatMask(wanted, kSix));
    log.push_back("Thread. Flowrate difference    : " + FormatMask(wanted - r, kSix));

    MovingAverages(totalizer, log);

    TPassDecision decision = GasAControl(r, currentSetFlow, currentObservedFlow);
    log.insert(log.end(), decision.Log.begin(), decision.Log.end());
    decision.Log = std::move(log);

    lastTotal_ = totalizerNow_;
    lastSeconds_ = totalizer.Seconds;
    lastTime_ = totalizer.Time;
    haveLastReading_ = true;
    recent_.push_back({totalizer.Seconds, totalizerNow_});
    if (recent_.size() > kRecentReadings) recent_.pop_front();
    return decision;
}

void TMFCPassRules::MovingAverages(const TTotalizerSample& totalizer, std::vector<std::string>& log) {
    const double N = maTickSize_;
    // The differences need an earlier reading to measure from. A first pass whose reading failed
    // must not make the next one measure from zero: that would weigh the controller's whole
    // totalizer, and the clock's whole count, into the averages.
    if (haveLastReading_) {
        dTotal_ = totalizerNow_ - lastTotal_;
        dSeconds_ = totalizer.Seconds - lastSeconds_;
    } else {
        lastSeconds_ = totalizer.Seconds;
        lastTime_ = totalizer.Time;
    }
    movingAverageMass_ = ((N - 1) * movingAverageMass_ + dTotal_) / N;
    timeSoFarMovingAverage_ = ((N - 1) * timeSoFarMovingAverage_ + dSeconds_) / N;

    log.push_back("Thread.           Moving average count size : " + std::to_string(maTickSize_));
    log.push_back("Thread.                  Totalizer time now : " +
                  FormatDateTime("hh:mm:ss:zzz", totalizer.Time));
    log.push_back("Thread.                 Totalizer time last : " +
                  FormatDateTime("hh:mm:ss:zzz", lastTime_));
    log.push_back("Thread.           Totalizer time difference : " +
                  FormatDateTime("hh:mm:ss:zzz", SecondsToDays(dSeconds_)));
    log.push_back("Thread. Moving average observation size (s) : " +
                  FormatMask(timeSoFarMovingAverage_ * N, "0.000"));
    log.push_back("Thread. Moving average observation size (m) : " +
                  FormatMask(timeSoFarMovingAverage_ / 60.0 * N, "0.000"));
    log.push_back("Thread.             Moving average flow (g) : " + FormatMask(movingAverageMass_, kSix));
    if (timeSoFarMovingAverage_ > 0) {
        movingAverageFlow_ = movingAverageMass_ / (timeSoFarMovingAverage_ / 60.0);
        log.push_back("Thread.           Moving average flow (g/m) : " +
                      FormatMask(movingAverageFlow_, kSix));
    } else {
        log.push_back("Thread.           Moving average flow (g/m) : ?");
        movingAverageFlow_ = 0;
    }
}

TPassDecision TMFCPassRules::GasAControl(double flowSoFar, double currentSetFlow,
                                         double currentObservedFlow) {
    TPassDecision d;
    const double wanted = MixD.Mass;

    if (MixD.GasNameLong.empty() || MixD.Mass == 0) {
        d.Mode = TGasAMode::gmNoGasA;
        d.Log.push_back("Thread. This mixture contains no gas for MFC a.");
        if (currentObservedFlow > kNoFlowLimit) {
            d.Log.push_back("Thread. Observed flow > 0.000 000 1, instruct 0-flow.");
            d.SetPoint.Write = true;
            d.SetPoint.Flow = 0;
        }
        return d;
    }

    if (MixD.Pulsed >= kConstantModeFrom) {
        d.Mode = TGasAMode::gmConstant;
        d.Log.push_back("Thread. We are in constant flow mode for gas A");
        if (std::fabs(currentSetFlow - wanted) > kSetPointTolerance) {
            d.SetPoint.Write = true;
            d.SetPoint.Flow = wanted;
            d.SetPoint.LogOnSuccess =
                "Thread. Constant flow: MFC permanently set to " + FormatGeneral(wanted) + " flow";
            d.SetPoint.LogOnFailure =
                "Thread. Constant flow: Failed to set MFC flow to " + FormatGeneral(wanted);
        }
        return d;
    }

    d.Log.push_back("Thread. We are in pulsed flow mode for gas A");
    d.Log.push_back("Thread. Pulsed: Lowest flow value      : " + FormatMask(LowFlow, kSix));
    // Exactly on target counts as ahead: the segment's mass is delivered, so MFC A rests.
    if (flowSoFar == 0 || flowSoFar < wanted) {
        d.Mode = TGasAMode::gmPulsedBehind;
        d.Log.push_back("Thread. Pulsed: We are behind in the flow");
        if (std::fabs(currentSetFlow - LowFlow) <= kSetPointTolerance) {
            d.Log.push_back("Thread. Pulsed: Flow already set");
        } else {
            d.Log.push_back("Thread. Pulsed: Try adjusting flow");
            d.SetPoint.Write = true;
            d.SetPoint.Flow = LowFlow;
            d.SetPoint.LogOnSuccess = "Thread. Pulsed: MFC set to " + FormatGeneral(LowFlow) + " flow";
            d.SetPoint.LogOnFailure = "Thread. Pulsed: Failed to set MFC flow";
        }
    } else {
        d.Mode = TGasAMode::gmPulsedAhead;
        d.Log.push_back("Thread. Pulsed: We are ahead in the flow");
        d.SetPoint.Write = true;
        d.SetPoint.Flow = 0;
        d.SetPoint.LogOnSuccess = "Thread. Pulsed: MFC set to 0 flow";
        d.SetPoint.LogOnFailure = "Thread. Pulsed: Failed to set MFC flow to 0";
    }
    return d;
}

}  // namespace moirex

#pragma once
// How a stop that could not be confirmed is repeated: every PeriodSeconds, for LimitSeconds after
// the first failure, then given up. `moirexctl run` repeats its stop procedure this way, and the
// guardian its own stop, so both keep trying for the same minute.
//
//     TStopRetry retry;                       // every 5 s for 60 s
//     retry.Failed(now);                      // the first failed stop
//     switch (retry.Next(now)) { ... }        // on every later look
//
// Times are monotonic seconds of the caller's clock.

namespace moirex {

class TStopRetry {
public:
    explicit TStopRetry(double periodSeconds = 5, double limitSeconds = 60)
        : PeriodSeconds(periodSeconds), LimitSeconds(limitSeconds) {}

    double PeriodSeconds;
    double LimitSeconds;

    enum class TStep { srWait, srRepeat, srGiveUp };

    // The stop has failed (again). The first call starts the limit's count.
    void Failed(double now) {
        if (since_ < 0) since_ = last_ = now;
    }
    bool Failing() const { return since_ >= 0; }
    // What to do now: give up once the limit has passed since the first failure, repeat once a
    // period has passed since the last repeat, else wait.
    TStep Next(double now) {
        if (since_ < 0) return TStep::srWait;
        if (now - since_ >= LimitSeconds) return TStep::srGiveUp;
        if (now - last_ >= PeriodSeconds) {
            last_ = now;
            return TStep::srRepeat;
        }
        return TStep::srWait;
    }

private:
    double since_ = -1;
    double last_ = 0;
};

}  // namespace moirex

#pragma once
// Monotonic time for everything elapsed: segment clock, totalizer spans, moving averages,
// time-outs. A clock change or daylight-saving shift never shortens or stretches these.
// Tests hand in a ManualClock to run a 45-minute segment without waiting 45 minutes.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace moirex {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since an arbitrary fixed origin; never goes backwards.
    virtual double MonotonicSeconds() const = 0;
    // Waits (or, for a test clock, advances) the given milliseconds.
    virtual void SleepMs(int64_t ms) = 0;
};

class SteadyClock final : public Clock {
public:
    double MonotonicSeconds() const override;
    void SleepMs(int64_t ms) override;
};

// A clock that moves only when told to; SleepMs advances it at once.
class ManualClock final : public Clock {
public:
    double MonotonicSeconds() const override { return seconds_.load(); }
    void SleepMs(int64_t ms) override { Advance(static_cast<double>(ms) / 1000.0); }
    void Advance(double seconds) { seconds_.store(seconds_.load() + seconds); }

private:
    std::atomic<double> seconds_{0.0};
};

// The process's clock: a SteadyClock unless a test has put another in place.
Clock& SystemClock();

}  // namespace moirex

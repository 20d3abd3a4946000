// The tick never waits for an instrument: Stop begins the stop procedure at the next tick whatever
// exchange is under way, a new segment reaches a pausing worker at once, and the worker counts a
// segment from the segment clock.

#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "RunControllerFixture.h"
#include "core/MFCThread.h"
#include "devices/PortClaim.h"

namespace moirex::testing_run {
namespace {

// A clock whose sleeps wait until the test lets them pass (or the gate is opened for good).
class GatedClock final : public Clock {
public:
    double MonotonicSeconds() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return seconds_;
    }
    void SleepMs(int64_t ms) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++sleepsBegun_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_ || permits_ > 0; });
        if (!open_) --permits_;
        seconds_ += static_cast<double>(ms) / 1000.0;
    }
    // Lets one sleep pass.
    void ReleaseOne() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++permits_;
        changed_.notify_all();
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int SleepsBegun() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sleepsBegun_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    double seconds_ = 0;
    int permits_ = 0;
    int sleepsBegun_ = 0;
    bool open_ = false;
};

bool WaitFor(const std::function<bool()>& done, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

using RunAtOnce = RunControllerBase;

// MFC A does not answer, so the worker sits in its one-second pause: the segment change must end
// that pause (the worker is woken), not wait for the rest of the second.
TEST_F(RunAtOnce, NewSegmentWakesTheWorkerFromItsPause) {
    GatedClock gate;
    ctx.WorkerClock = &gate;
    // However the test ends, the worker ends before the gate goes.
    struct Finally {
        GatedClock& gate;
        TRunContext& ctx;
        ~Finally() {
            gate.Open();
            if (WorkerRunning(ctx)) StopAndKillThread(ctx);
        }
    } finally{gate, ctx};
    mixer.OutageStop_s = 0;  // the segment clock jumps an hour below
    mixer.MFCADetails.ComPortName = "/nonexistent/moirex-mfc-a";
    mixer.MFCBDetails.ComPortName = "/nonexistent/moirex-mfc-b";
    mixer.PumpDetails.Port = "/nonexistent/moirex-pump";
    mixer.MixerState = TMixerState::msReady;
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0, ""), Segment(1, 0.02f, 1, 0, "")};
    ButtonApplyClick(ctx);
    ASSERT_EQ(mixer.MixerState, TMixerState::msOperating);

    // Serve the worker until it is in its pause after the failed reading.
    ASSERT_TRUE(RunUntil([&] { return gate.SleepsBegun() > 0 && handOver.PendingCount() == 0; })) << LogText();
    const int sleeps = gate.SleepsBegun();

    clock.Advance(3600 + 1);
    Timer1Timer(ctx);
    ASSERT_TRUE(Logged("Tick:Next Step: 1")) << LogText();
    ASSERT_TRUE(ctx.ThreadData.In_NewSegment);

    gate.ReleaseOne();
    // Woken, the worker comes to its hand-over; not woken, it sleeps the next slice of its pause.
    ASSERT_TRUE(WaitFor([&] { return handOver.PendingCount() > 0 || gate.SleepsBegun() > sleeps; }));
    EXPECT_GT(handOver.PendingCount(), 0) << "the worker slept on after the segment change";
    EXPECT_EQ(gate.SleepsBegun(), sleeps);
    handOver.processPending();
    EXPECT_FALSE(ctx.ThreadData.In_NewSegment);
    EXPECT_FLOAT_EQ(ctx.MFCThread->rules.MixD.Mass, 0.02f);

    gate.Open();
    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return !WorkerRunning(ctx) && !StopProcedureRunning(ctx); })) << LogText();
}

// The worker learns of a segment at a hand-over, some time after the segment began: the segment's
// gas A is counted from its start on the segment clock, not from that hand-over.
TEST(MFCThreadSegmentClock, NewSegmentCountsFromTheSegmentClockNotFromTheHandOver) {
    TThreadData threadData;
    TFlowStatus flowStatus;
    TQueuedHandOver handOver;
    ManualClock workerClock;
    ManualClock segmentClock;
    TMFCThread worker(threadData, flowStatus, handOver, workerClock, 358, "", {});
    worker.SegmentClock = &segmentClock;
    // Readings of 1 g/s at worker seconds 10, 11 and 12.
    for (int i = 0; i < 3; ++i)
        worker.rules.Pass(TTotalizerSample{static_cast<double>(i), 10.0 + i, 0}, 0, 0);
    workerClock.Advance(13);
    segmentClock.Advance(500);
    threadData.In_MixD = Component(0, "Oxygen", 0.01f, 0.5f);
    threadData.In_SegmentStartSeconds = 498;  // the segment began 2 s ago
    threadData.In_NewSegment = true;
    worker.DataExchange();
    worker.rules.Pass(TTotalizerSample{3.0, 13.0, 0}, 0, 0);
    // The segment began at worker second 11, where the totalizer read 1 g.
    EXPECT_NEAR(worker.rules.TotalizerStart(), 1.0, 1e-9);
}

// The pump answers busy, slowly, so the segment's pump exchange is stuck in its stop loop when Stop
// comes: the next tick begins the stop procedure without waiting for it, the stuck exchange gives
// up, and the pump's stop follows it on the line, before the worker and the controllers.
TEST_F(RunOnEmulator, StopDuringAStuckPumpBeginsTheStopProcedureAtTheNextTick) {
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "IV100A2000OR")};
    emulator.SetPumpStuckBusy(true);
    emulator.SetDelayMs(Instrument::Pump, 100);
    const uint64_t before = emulator.RequestsSeen(Instrument::Pump);
    ButtonApplyClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return emulator.RequestsSeen(Instrument::Pump) >= before + 3; })) << LogText();
    const TExchangeTicket<TPumpOutcome> stuck = ctx.Pending.Pump;
    ASSERT_TRUE(stuck.Valid());

    ButtonStopClick(ctx);
    Timer1Timer(ctx);
    EXPECT_TRUE(StopProcedureRunning(ctx));
    EXPECT_FALSE(stuck.Ready()) << "the tick waited for the stuck pump";
    EXPECT_TRUE(WorkerRunning(ctx));  // the pump first

    emulator.SetPumpStuckBusy(false);
    emulator.SetDelayMs(Instrument::Pump, 0);
    ASSERT_TRUE(RunUntil([&] { return Idle() && !WorkerRunning(ctx); })) << LogText();
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
    EXPECT_NE(form.MemoSetupFeedback.Text().find(" Pump stopped"), std::string::npos);
    EXPECT_NE(emulator.Pump().Command, "IV100A2000O") << "the stuck exchange went on after Stop";
    EXPECT_FALSE(Logged("C Handled")) << LogText();
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.0f);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0.0f);
}

// With the ports claimed, the tick's set-point write to MFC B at each segment change and the
// worker's reading of MFC B go through the one owner of the line, one after the other: no reading
// of MFC B goes missing, though nothing is wrong with it.
TEST_F(RunOnEmulator, NoMFCBReadingGoesMissingAtSegmentChanges) {
    TMixerClaim claim("moirex test");
    ASSERT_EQ(claim.Claim({mixer.PumpDetails.Port, mixer.MFCADetails.ComPortName, mixer.MFCBDetails.ComPortName}), "");
    const double second = 1.0 / 3600;
    for (float b : {0.02f, 0.03f, 0.01f, 0.025f, 0.015f, 0.02f})
        mixer.StepProgram.push_back(Segment(second, 0.01f, 1, b, ""));
    int missing = 0, readings = 0;
    ctx.OnHandOver = [&](const THandOverReadings& r) {
        if (r.Segment == 0) return;  // the stop procedure's
        ++readings;
        if (r.FlowStatus.MFCB == -1) ++missing;
    };
    followRealTime = true;
    ButtonApplyClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle() && !WorkerRunning(ctx); }, 30)) << LogText();
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady) << LogText();
    EXPECT_EQ(Count("Tick:Next Step"), 5);
    EXPECT_GT(readings, 10);
    EXPECT_EQ(missing, 0) << LogText();
    EXPECT_FALSE(Logged("Could not talk to MFC B")) << LogText();
    EXPECT_FALSE(Logged("Failed to set MFC B")) << LogText();
}

// Another program's `moirexctl status` reads, beside who holds the ports, the state of the run
// that holds them: the run's display while it runs, nothing once it has ended.
TEST_F(RunOnEmulator, TheClaimTellsTheRunsState) {
    TMixerClaim& claim = ProcessMixerClaim();
    ASSERT_EQ(claim.Claim({mixer.PumpDetails.Port, mixer.MFCADetails.ComPortName, mixer.MFCBDetails.ComPortName}), "");
    struct TReleaseOnExit {
        TMixerClaim& claim;
        ~TReleaseOnExit() { claim.Release(); }
    } release{claim};
    auto ourState = [&] {
        std::vector<std::string> states;
        for (const TClaimRecord& c : CurrentClaims())
            if (c.Pid == ::getpid() && c.Alive) states.push_back(c.RunState);
        return states;
    };
    const double second = 1.0 / 3600;
    mixer.StepProgram.push_back(Segment(2 * second, 0.01f, 1, 0.02f, ""));
    followRealTime = true;
    ButtonApplyClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Logged("MFC B flow set to"); }, 10)) << LogText();
    RunUntil([] { return false; }, 0.2);
    std::vector<std::string> during = ourState();
    ASSERT_EQ(during.size(), 3u);
    for (const std::string& state : during) {
        EXPECT_EQ(state.rfind("Operating, step: 1/1, time left:", 0), 0u) << state;
        EXPECT_EQ(state, during.front());
    }
    ASSERT_TRUE(RunUntil([&] { return Idle() && !WorkerRunning(ctx); }, 30)) << LogText();
    RunUntil([] { return false; }, 0.1);
    for (const std::string& state : ourState()) EXPECT_EQ(state, "") << "after the run";
}

}  // namespace
}  // namespace moirex::testing_run

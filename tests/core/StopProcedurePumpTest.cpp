// The stop procedure with a pump that answers busy and then falls silent: the plunger may still
// be moving, so the stop must end in msStopFailed, never in "Pump stopped".

#include "RunControllerFixture.h"

namespace moirex::testing_run {
namespace {

using StopProcedurePump = RunOnEmulator;

TEST_F(StopProcedurePump, PumpSilentWhileBusyIsAFailedStop) {
    mixer.StepProgram = {Segment(1, 0.01f, 1, 0.02f, "IV100A2000OR")};
    ButtonApplyClick(ctx);
    ASSERT_EQ(mixer.MixerState, TMixerState::msOperating);
    ASSERT_TRUE(RunUntil([&] { return ctx.ThreadData.StepPumpSet && ctx.ThreadData.StepMFCBSet; })) << LogText();

    // The connect query and the terminate are answered busy; after them the pump says nothing.
    emulator.SetPumpStuckBusy(true);
    sim::ScheduledFault silent;
    silent.Silent = true;
    for (uint64_t n = 3; n <= 200; ++n) emulator.ScheduleFault(Instrument::Pump, n, silent);
    ButtonStopClick(ctx);
    ASSERT_TRUE(RunUntil([&] { return Idle(); }, 60)) << LogText();
    EXPECT_EQ(mixer.MixerState, TMixerState::msStopFailed);
    const std::string feedback = mixer.Form.MemoSetupFeedback.Text();
    EXPECT_NE(feedback.find(" Failed to stop pump"), std::string::npos) << feedback;
    EXPECT_EQ(feedback.find(" Pump stopped"), std::string::npos) << feedback;
    EXPECT_TRUE(Logged("  Fluid stopped: False")) << LogText();
    EXPECT_FALSE(WorkerRunning(ctx));
}

}  // namespace
}  // namespace moirex::testing_run

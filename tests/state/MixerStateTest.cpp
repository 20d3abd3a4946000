#include "state/MixerState.h"

#include <gtest/gtest.h>

#include <cctype>

#include "form/Dialogs.h"
#include "form/Form.h"

namespace moirex {
namespace {

// "dd-hh-mm-ss " with day 01..31, hour 00..23, minute and second 00..59.
bool HasLogPaneStamp(const std::string& line) {
    if (line.size() < 12 || line[11] != ' ') return false;
    const int limits[] = {31, 23, 59, 59};
    for (int f = 0; f < 4; ++f) {
        const char hi = line[f * 3], lo = line[f * 3 + 1];
        if (!std::isdigit(static_cast<unsigned char>(hi)) || !std::isdigit(static_cast<unsigned char>(lo))) return false;
        if ((hi - '0') * 10 + (lo - '0') > limits[f]) return false;
        if (f < 3 && line[f * 3 + 2] != '-') return false;
    }
    return true;
}

class MixerStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        FormLogger().SetDestination(nullptr);
        FormLogger().Enabled = true;
        FormLogger().SetCategory("Form");
        DefaultDestination().AttachCapture(capture);
    }
    void TearDown() override { DefaultDestination().AttachCapture(nullptr); }

    std::shared_ptr<TLogCapture> capture = std::make_shared<TLogCapture>();
    TForm1 form;
    ScriptedDialogs dialogs;
    TMixer mixer{form, dialogs};
};

// What the context holds before the start-up sequence and the configuration have run.
TEST_F(MixerStateTest, StartsInSimulationWithEverythingZeroed) {
    EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
    EXPECT_FALSE(mixer.TickReady);
    EXPECT_EQ(mixer.CurrentStep, 0);
    EXPECT_EQ(mixer.StepStartTime, 0.0);
    EXPECT_TRUE(mixer.StepProgram.empty());
    EXPECT_TRUE(mixer.RunStatusText.empty());
    EXPECT_EQ(mixer.GraphPoints, 1000);
    EXPECT_EQ(mixer.AverageSampleSize, 358);
    EXPECT_EQ(mixer.DynamicRangeCullA, 20);
    EXPECT_EQ(mixer.DynamicRangeCullB, 10);
    EXPECT_TRUE(mixer.INIPortPump.empty());
    EXPECT_TRUE(mixer.INIPortMFCA.empty());
    EXPECT_TRUE(mixer.INIPortMFCB.empty());

    for (const TMFCDetails* d : {&mixer.MFCADetails, &mixer.MFCBDetails}) {
        EXPECT_TRUE(d->ComPortName.empty());
        EXPECT_EQ(d->ModBusAddress, 0u);
        EXPECT_FALSE(d->Validated);
        EXPECT_EQ(d->ActiveLUT, 0u);
        EXPECT_EQ(d->CurrentMaxFlow, 0.0);
        EXPECT_EQ(d->CurrentSetFlow, 0.0);
        EXPECT_EQ(d->Serial, 0u);
        for (int k = 2; k <= 11; ++k) EXPECT_TRUE(d->LUT[k].NameShort.empty());
    }
    const TPumpDetails& p = mixer.PumpDetails;
    EXPECT_TRUE(p.Port.empty());
    EXPECT_EQ(p.SYRINGE_STEPS, 0);
    EXPECT_EQ(p.SYRINGE_VOLUMEul, 0.0);
    EXPECT_EQ(p.FLUID_MAX_PPM, 0);
    EXPECT_TRUE(p.Fluid.GasNameLong.empty());
    EXPECT_TRUE(mixer.DesignedMixture.Components.empty());

    const TFlowStatus& f = mixer.FlowStatus;
    EXPECT_EQ(f.MFCA, 0.0);
    EXPECT_EQ(f.SegmentAverage, 0.0);
    EXPECT_EQ(f.MFCB, 0.0);
    EXPECT_EQ(f.MovingAverage, 0.0);
    EXPECT_EQ(f.MovingAverageMinutes, 0.0);
    EXPECT_EQ(ProgramVersion, " v2 2024-02-29");
}

TEST_F(MixerStateTest, FlowStatusResetLeavesOneMinuteSpan) {
    mixer.FlowStatus = {0.02, 0.019, -1, 0.018, 12.5};
    mixer.FlowStatus.Reset();
    EXPECT_EQ(mixer.FlowStatus.MFCA, 0.0);
    EXPECT_EQ(mixer.FlowStatus.SegmentAverage, 0.0);
    EXPECT_EQ(mixer.FlowStatus.MFCB, 0.0);
    EXPECT_EQ(mixer.FlowStatus.MovingAverage, 0.0);
    EXPECT_EQ(mixer.FlowStatus.MovingAverageMinutes, 1.0);
}

TEST_F(MixerStateTest, WindowClosesOnlyWhenNothingCanBeFlowing) {
    struct Case {
        TMixerState state;
        bool mayClose;
    };
    const Case cases[] = {
        {TMixerState::msSimulation, true}, {TMixerState::msReady, true},
        {TMixerState::msOperating, false}, {TMixerState::msStopping, false},
        {TMixerState::msStopFailed, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        dialogs.shown.clear();
        mixer.MixerState = c.state;
        EXPECT_EQ(FormCloseQuery(mixer), c.mayClose);
        if (c.mayClose) {
            EXPECT_TRUE(dialogs.shown.empty());
        } else {
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].kind, ScriptedDialogs::Entry::Message);
            EXPECT_EQ(dialogs.shown[0].text, "Stop the mixture first");
        }
        EXPECT_EQ(mixer.MixerState, c.state);  // asking never changes the run state
    }
}

TEST_F(MixerStateTest, CloseEndsTheLoggingConnectionQuietly) {
    mixer.MixerState = TMixerState::msReady;
    FormClose(mixer);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady);
}

TEST_F(MixerStateTest, FeedbackBoxFollowsTheWindowWidthButNeverBelow300) {
    struct Case {
        int windowWidth;
        int boxWidth;
    };
    const Case cases[] = {{1126, 676}, {751, 301}, {750, 300}, {749, 300},
                          {400, 300},  {0, 300},   {-20, 300}, {3000, 2550}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windowWidth);
        form.SetWidth(c.windowWidth);
        FormResize(form);
        EXPECT_EQ(form.GroupBox3.Width(), c.boxWidth);
    }
}

TEST_F(MixerStateTest, DisableShowsTheHourGlassAndEnableRemovesIt) {
    FormDisable(form, true);
    EXPECT_FALSE(form.Enabled());
    EXPECT_TRUE(form.BusyCursor());
    FormDisable(form, false);
    EXPECT_TRUE(form.Enabled());
    EXPECT_FALSE(form.BusyCursor());
}

TEST_F(MixerStateTest, LogOldStampsTheLineAndCopiesItToTheFormChannel) {
    const std::string dayBefore = FormatDateTime("dd-hh-mm-ss", Now()).substr(0, 2);
    LogOld(form.MemoLog, "Start with current program");
    LogOld(form.MemoLog, "");
    const std::string dayAfter = FormatDateTime("dd-hh-mm-ss", Now()).substr(0, 2);

    ASSERT_EQ(form.MemoLog.Count(), 2);
    const std::string first = form.MemoLog.Line(0);
    ASSERT_TRUE(HasLogPaneStamp(first)) << first;
    EXPECT_TRUE(first.substr(0, 2) == dayBefore || first.substr(0, 2) == dayAfter) << first;
    EXPECT_EQ(first.substr(12), "Start with current program");
    // An empty message leaves the stamp and its blank.
    const std::string second = form.MemoLog.Line(1);
    EXPECT_EQ(second.size(), 12u) << second;
    EXPECT_TRUE(HasLogPaneStamp(second)) << second;

    EXPECT_EQ(capture->Messages("Form"),
              (std::vector<std::string>{"LogOld: Start with current program", "LogOld: "}));
    EXPECT_EQ(form.MemoDebugCOM.Count(), 0);
}

TEST_F(MixerStateTest, LogOldStillWritesThePaneWhenTheChannelIsDisabled) {
    FormLogger().Enabled = false;
    LogOld(form.MemoLog, "quiet");
    FormLogger().Enabled = true;
    EXPECT_EQ(form.MemoLog.Count(), 1);
    EXPECT_TRUE(capture->Records().empty());
}

}  // namespace
}  // namespace moirex

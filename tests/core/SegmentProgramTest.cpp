// The segment program editor: adding, saving over, listing, loading back and deleting segments,
// and the refusals the operator reads in Memo1.

#include <string>
#include <vector>

#include "DesignPageFixture.h"
#include "core/SegmentProgram.h"

using namespace moirex;

namespace {

class SegmentProgramTest : public moirex::testing::DesignPageTest {
protected:
    std::vector<std::string> ListLines() const {
        std::vector<std::string> lines;
        for (const auto& item : form.RzTabbedListBoxSteps.Items()) lines.push_back(item.Text);
        return lines;
    }
    void AddSegment(int64_t a, int64_t b, double fluid, double hours = 0.75) {
        SetFlows(a, b, fluid);
        Type(form.RtDoubleEditStepDuration, hours);
        form.ButtonAddStep.Click();
    }
    void Select(int line) {
        form.RzTabbedListBoxSteps.SetItemIndex(line);
        form.RzTabbedListBoxSteps.Click();
    }
};

TEST_F(SegmentProgramTest, SegmentListsAsTabSeparatedColumnsAndLoadsBack) {
    AddSegment(1500, 20000, 0);
    ASSERT_EQ(mixer.StepProgram.size(), 1u);
    EXPECT_EQ(ListLines(), std::vector<std::string>{"1\tID:1\t0 h 45 min \tA:1500 B:20000 "});
    EXPECT_EQ(form.RzTabbedListBoxSteps.ItemIndex(), -1);

    SetFlows(7, 8, 1000);
    Type(form.RtDoubleEditStepDuration, 2);
    Select(0);
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 1500);
    EXPECT_EQ(form.RtIntegerEditY2Flow.Value(), 20000);
    EXPECT_EQ(form.RtDoubleEditFluidFlow.Value(), 0);  // the segment has no fluid
    EXPECT_EQ(form.RtDoubleEditStepDuration.Value(), 0.75);
    EXPECT_EQ(form.EditStepComments.Text(), "ID:1");
    EXPECT_EQ(form.Label30.Caption(), "TR");
    EXPECT_EQ(form.Label31.Caption(), "00:45");
    // 20000 of B's range 892 .. 89200 puts its bar at 2.
    EXPECT_EQ(form.RzTrackBarY2.Position(), 2);
}

TEST_F(SegmentProgramTest, DurationsListAsFlooredHoursAndRoundedMinutes) {
    const struct {
        double hours;
        const char* listed;
    } cases[] = {{1.5, "1 h 30 min "},  {0.9999, "0 h 60 min "},  {0.75, "0 h 45 min "},
                 {12.25, "12 h 15 min "}, {0.005, "0 h 00 min 18 s "}, {0.0001, "0 h 00 min 0.4 s "},
                 {0, "0 h 00 min "}};
    for (const auto& c : cases) AddSegment(1500, 0, 0, c.hours);
    const auto lines = ListLines();
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t k = 0; k < lines.size(); ++k) {
        const std::string expected = std::to_string(k + 1) + "\tID:" + std::to_string(k + 1) + "\t" +
                                     cases[k].listed + "\tA:1500 ";
        EXPECT_EQ(lines[k], expected);
    }
}

TEST_F(SegmentProgramTest, FluidSegmentListsAllThreeFlows) {
    dialogs.defaultAnswer = true;  // its water would condense at 21 ºC: asked, and taken
    form.EditStepComments.SetText("humid");
    AddSegment(10000, 2000, 1000);
    EXPECT_EQ(ListLines(), std::vector<std::string>{"1\thumid\t0 h 45 min \tA:10000 B:2000 C:995 "});
    const TGasItem& fluid = mixer.StepProgram[0].Components[2];
    EXPECT_EQ(fluid.PumpCommand, "gIV6000A24000OV8A0GR");
    EXPECT_EQ(fluid.InstrumentID, 2);
}

TEST_F(SegmentProgramTest, SelectedLineIsReplacedAndEscUnselects) {
    AddSegment(1000, 0, 0);
    AddSegment(2000, 0, 0);
    AddSegment(3000, 0, 0);

    Select(1);
    SetFlows(2500, 0, 0);
    form.ButtonAddStep.Click();
    ASSERT_EQ(mixer.StepProgram.size(), 3u);
    EXPECT_EQ(form.RzTabbedListBoxSteps.ItemIndex(), -1);
    // Loading the segment put its name into the comment field, so it keeps it.
    EXPECT_EQ(ListLines()[1], "2\tID:2\t0 h 45 min \tA:2500 ");
    EXPECT_EQ(ListLines()[2], "3\tID:3\t0 h 45 min \tA:3000 ");

    Select(0);
    form.RzTabbedListBoxSteps.KeyUp(keys::Escape);
    EXPECT_EQ(form.RzTabbedListBoxSteps.ItemIndex(), -1);
    form.ButtonAddStep.Click();
    EXPECT_EQ(mixer.StepProgram.size(), 4u);
}

TEST_F(SegmentProgramTest, SegmentWithoutFlowsIsRefused) {
    SetFlows(0, 0, 0);
    form.Memo1.SetText("report");
    form.ButtonAddStep.Click();
    EXPECT_TRUE(mixer.StepProgram.empty());
    // The mixture without parts empties the report before the refusal is added.
    EXPECT_EQ(form.Memo1.Lines(), (std::vector<std::string>{
                                      "", "Cannot add invalid mixture. Fluid ppm higher than artificial limit."}));
}

// Water at about 150 000 ppm in 10 000 µg/min of oxygen: refused under a limit of 100 000 ppm,
// stored under 200 000 ppm.
TEST_F(SegmentProgramTest, SegmentOverTheFluidLimitIsRefused) {
    const struct {
        int64_t limit;
        bool stored;
    } cases[] = {{100000, false}, {200000, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        form.RtIntegerEditFluidPPMLimit.SetValue(c.limit);
        ASSERT_TRUE(AssignFluidMixtureToPump(mixer));
        dialogs.defaultAnswer = true;  // its water condenses at 21 ºC: asked, and taken
        AddSegment(10000, 0, 1000);
        const std::string memo = form.Memo1.Text();
        EXPECT_EQ(mixer.StepProgram.size(), c.stored ? 1u : 0u);
        const bool refused = memo.find(InvalidSegmentMessage) != std::string::npos;
        EXPECT_EQ(refused, !c.stored) << memo;
        EXPECT_EQ(memo.find("Exceeding the fluid ppm limit") != std::string::npos, !c.stored) << memo;
    }
}

TEST_F(SegmentProgramTest, DeleteRemovesTheLastSegmentUnlessRunningOrEmpty) {
    const struct {
        TMixerState state;
        size_t segments;
        bool removed;
    } cases[] = {
        {TMixerState::msOperating, 2, false},
        {TMixerState::msStopping, 2, true},
        {TMixerState::msReady, 2, true},
        {TMixerState::msSimulation, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        ClearStepProgram(mixer);
        for (size_t k = 0; k < c.segments; ++k) AddSegment(1000 * int64_t(k + 1), 0, 0);
        Select(0);  // whatever is selected, the last one goes
        form.Memo1.Clear();
        mixer.MixerState = c.state;
        form.ButtonSegmentDelete.Click();
        mixer.MixerState = TMixerState::msSimulation;

        if (c.removed) {
            EXPECT_EQ(ListLines(), std::vector<std::string>{"1\tID:1\t0 h 45 min \tA:1000 "});
            EXPECT_EQ(form.Memo1.Count(), 0);
        } else {
            EXPECT_EQ(mixer.StepProgram.size(), c.segments);
            EXPECT_EQ(form.Memo1.Lines(),
                      (std::vector<std::string>{
                          "", "Cannot delete Segment. Either segment program is running, or no segments to delete."}));
        }
    }
}

TEST_F(SegmentProgramTest, ClearEmptiesProgramAndList) {
    AddSegment(1000, 0, 0);
    ClearStepProgram(mixer);
    EXPECT_TRUE(mixer.StepProgram.empty());
    EXPECT_EQ(form.RzTabbedListBoxSteps.Count(), 0);
}

// A segment no operator means is refused with its reason; an unusual one is asked about, and taken
// only on Yes.
TEST_F(SegmentProgramTest, ImpossibleSegmentsAreRefusedAndUnusualOnesAskedAbout) {
    struct Case {
        const char* name;
        double hours;
        double fluid;  // µg/min of water in 1500 µg/min of oxygen
        bool answer;
        const char* question;  // start of the question asked, or none
        const char* refusal;   // start of the Memo1 line when not taken, or none
    };
    const Case cases[] = {
        {"a billion hours", 1e9, 0, true, nullptr, "Cannot add segment. Its duration of 1000000000 hours is longer than a year"},
        {"negative", -1, 0, true, nullptr, "Cannot add segment. Its duration of -1 hours is not a time."},
        {"a year", 8760, 0, true, "The segment lasts 8760 hours (365.0 days).", nullptr},
        {"two days, No", 48, 0, false, "The segment lasts 48 hours (2.0 days).", "Segment not added. The segment lasts 48 hours"},
        {"a day", 24, 0, false, nullptr, nullptr},
        {"condensing water, No", 1, 1000, false, "The segment's water is ", "Segment not added. The segment's water is "},
        {"condensing water, Yes", 1, 1000, true, "The segment's water is ", nullptr},
        {"humid", 1, 20, false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearStepProgram(mixer);
        dialogs.shown.clear();
        dialogs.defaultAnswer = c.answer;
        AddSegment(1500, 0, c.fluid, c.hours);
        const bool taken = !c.refusal;
        EXPECT_EQ(mixer.StepProgram.size(), taken ? 1u : 0u) << form.Memo1.Text();
        if (c.question) {
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].caption, "Unusual segment");
            EXPECT_EQ(dialogs.shown[0].text.rfind(c.question, 0), 0u) << dialogs.shown[0].text;
        } else {
            EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown[0].text;
        }
        if (c.refusal) {
            ASSERT_GT(form.Memo1.Count(), 0);
            EXPECT_EQ(form.Memo1.Line(form.Memo1.Count() - 1).rfind(c.refusal, 0), 0u) << form.Memo1.Text();
        }
    }
}

// A flow still being typed when the segment is added is taken as entered: gas B below its
// controller's minimum becomes 0, as on Enter.
TEST_F(SegmentProgramTest, FlowStillBeingTypedIsTakenAsEntered) {
    TIntegerEdit& b = form.RtIntegerEditY2Flow;
    Type(form.RtIntegerEditY1Flow, 1500);
    b.SetFocused(true);
    b.SetValue(50);
    b.KeyUp('0');
    ASSERT_EQ(b.Value(), 50);
    form.ButtonAddStep.Click();
    EXPECT_EQ(b.Value(), 0);
    EXPECT_EQ(ListLines(), std::vector<std::string>{"1\tID:1\t0 h 45 min \tA:1500 "});
}

}  // namespace

// The demonstration fields standing in for the two controllers while the mixer is in simulation.

#include "DesignPageFixture.h"

using namespace moirex;

namespace {

class SimulationModeTest : public moirex::testing::DesignPageTest {};

TEST_F(SimulationModeTest, InitialDemoValuesFillGasTableTwoOfBothControllers) {
    struct Expected {
        const TMFCDetails& details;
        const char* gas;
        float mass, range, min;
        uint32_t dynamic;
    } controllers[] = {
        {mixer.MFCADetails, "O2", 31.9988f, 0.0358f, float(0.0358 / 120), 120},
        {mixer.MFCBDetails, "Ar", 39.948f, 0.0892f, 0.000892f, 100},
    };
    for (const Expected& e : controllers) {
        SCOPED_TRACE(e.gas);
        EXPECT_TRUE(e.details.Validated);
        EXPECT_EQ(e.details.ActiveLUT, 2u);
        const TLUTData& t = e.details.LUT[2];
        EXPECT_EQ(t.LUTNumber, 2u);
        EXPECT_EQ(t.NameShort, e.gas);
        EXPECT_EQ(t.NameCustom, e.gas);
        EXPECT_EQ(t.NameOwn, e.gas);
        EXPECT_EQ(t.AtomicMass, e.mass);
        EXPECT_EQ(t.UnitType, "g/min");
        EXPECT_EQ(t.RangeMax, e.range);
        EXPECT_EQ(t.RangeDynamic, e.dynamic);
        EXPECT_FLOAT_EQ(t.RangeMin, e.min);
        EXPECT_EQ(t.Totalizer1, 0.0f);
    }
    EXPECT_EQ(form.GroupBoxY1.Caption(), "A-component: O2");
    EXPECT_EQ(form.GroupBoxY2.Caption(), "B-component: Ar");
    // The track bars at 5 place both flows halfway into the demo ranges.
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 18049);
    EXPECT_EQ(form.RtIntegerEditY2Flow.Value(), 45046);
    // Start-up puts the ports on "SIM" only after the first set-points.
    EXPECT_NE(form.Memo1.Text().find("  :0:O2  "), std::string::npos) << form.Memo1.Text();
}

TEST_F(SimulationModeTest, TurndownIsRoundedHalfToEvenAndAZeroTurndownKeepsTheMinimum) {
    const struct {
        double turndown;
        uint32_t dynamic;
        float min;
    } cases[] = {
        {120.5, 120, float(0.0358 / 120.5)},
        {121.5, 122, float(0.0358 / 121.5)},
        {0, 0, float(0.0358 / 121.5)},  // the minimum of the case before stays
    };
    for (const auto& c : cases) {
        Type(form.RtDoubleEditY1DemoTurndown, c.turndown);
        EXPECT_EQ(mixer.MFCADetails.LUT[2].RangeDynamic, c.dynamic) << c.turndown;
        EXPECT_FLOAT_EQ(mixer.MFCADetails.LUT[2].RangeMin, c.min) << c.turndown;
    }
}

TEST_F(SimulationModeTest, GasButtonsSetTheirRowWithoutApplyingIt) {
    const struct {
        TButton& button;
        TGroupBox& group;
        const char* caption;
        TEdit& name;
        const char* gas;
        TRealEdit& mass;
        double molarMass;
    } rows[] = {
        {form.ButtonMFCAAir, form.GroupBoxY1, "A-Component: Air", form.EditY1DemoName, "Air", form.RtDoubleEditY1DemoMass, 28.9647},
        {form.ButtonMFCAH2, form.GroupBoxY1, "A-Component: H2", form.EditY1DemoName, "H2", form.RtDoubleEditY1DemoMass, 2.01588},
        {form.ButtonMFCAH2inAr99, form.GroupBoxY1, "A-Component: H2Ar99", form.EditY1DemoName, "H2Ar99", form.RtDoubleEditY1DemoMass, 39.55869847},
        {form.ButtonMFCBAir, form.GroupBoxY2, "B-Component: Air", form.EditY2DemoName, "Air", form.RtDoubleEditY2DemoMass, 28.9647},
        {form.ButtonMFCBN2, form.GroupBoxY2, "B-Component: N2", form.EditY2DemoName, "N2", form.RtDoubleEditY2DemoMass, 28.0134},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.button.Name);
        row.button.Click();
        EXPECT_EQ(row.group.Caption(), row.caption);
        EXPECT_EQ(row.name.Text(), row.gas);
        EXPECT_EQ(row.mass.Value(), row.molarMass);
    }
    // Not applied yet: the controllers keep the previous gases.
    EXPECT_EQ(mixer.MFCADetails.LUT[2].NameOwn, "O2");
    EXPECT_EQ(mixer.MFCBDetails.LUT[2].NameOwn, "Ar");

    form.EditY2DemoName.KeyUp();
    EXPECT_EQ(form.GroupBoxY1.Caption(), "A-component: H2Ar99");
    EXPECT_EQ(form.GroupBoxY2.Caption(), "B-component: N2");
    EXPECT_EQ(mixer.MFCBDetails.LUT[2].AtomicMass, 28.0134f);
}

TEST_F(SimulationModeTest, OutsideSimulationTheDemoFieldsChangeNothing) {
    mixer.MixerState = TMixerState::msReady;
    const std::string caption = form.GroupBoxY1.Caption();
    // Not even the caption: the recipe copies it, and it would name a gas never connected.
    form.ButtonMFCAH2.Click();
    EXPECT_EQ(form.GroupBoxY1.Caption(), caption);
    EXPECT_EQ(form.EditY1DemoName.Text(), "O2");
    Type(form.RtDoubleEditY1DemoRange, 1.0);
    EXPECT_EQ(mixer.MFCADetails.LUT[2].NameOwn, "O2");
    EXPECT_EQ(mixer.MFCADetails.LUT[2].RangeMax, 0.0358f);

    // Back in simulation (a port list clicked), the buttons and the next key release apply again.
    mixer.MixerState = TMixerState::msSimulation;
    form.ButtonMFCAH2.Click();
    EXPECT_EQ(form.GroupBoxY1.Caption(), "A-Component: H2");
    form.RtDoubleEditY1DemoRange.KeyUp();
    EXPECT_EQ(mixer.MFCADetails.LUT[2].NameOwn, "H2");
    EXPECT_EQ(mixer.MFCADetails.LUT[2].RangeMax, 1.0f);
}

// Applying unchanged demo values keeps the flow the operator typed; a new range places the flow
// by the track bar, as a gas selection does.
TEST_F(SimulationModeTest, ReapplyingUnchangedValuesKeepsTheTypedFlow) {
    Type(form.RtIntegerEditY1Flow, 1500);
    form.EditY1DemoName.KeyUp();
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 1500);

    // 1500 of 35 800 put the bar at 0; a new range of 0.1 g/min then follows the bar.
    ASSERT_EQ(form.RzTrackBarY1.Position(), 0);
    Type(form.RtDoubleEditY1DemoRange, 0.1);
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 833);  // the new minimum, 0.1 / 120 g/min
}

}  // namespace

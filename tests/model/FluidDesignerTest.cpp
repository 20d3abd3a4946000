// The fluid designer as the operator uses it: choose components, enter masses and density, read
// the table in Memo2, apply the design to the pump.

#include <gtest/gtest.h>

#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FluidDesigner.h"
#include "state/MixerState.h"

using namespace moirex;

namespace {

class FluidDesignerTest : public ::testing::Test {
protected:
    FluidDesignerTest() {
        mixer.PumpDetails.SYRINGE_VOLUMEul = 12.5;
        mixer.PumpDetails.SYRINGE_STEPS = 24000;
        mixer.PumpDetails.SYRINGE_MAXSPEED = 1000;
        mixer.PumpDetails.FLUID_MAX_PPM = 1000000;
        FillComponentBoxes(mixer);
        BindFluidDesignerHandlers(mixer);
    }

    // The operator picks a component and types its mass.
    void EnterComponent(TComboBox& box, TGasItems gas, TRealEdit& mass, double grams) {
        box.Choose(static_cast<int>(gas));
        mass.SetValue(grams);
        mass.KeyUp();
    }

    TForm1 form;
    ScriptedDialogs dialogs;
    TMixer mixer{form, dialogs};
};

TEST_F(FluidDesignerTest, ComponentBoxesListTheCatalogueInOrdinalOrder) {
    ASSERT_EQ(form.ComboBoxMix3.Count(), 16);
    EXPECT_EQ(form.ComboBoxMix3.ItemText(0), "");
    EXPECT_EQ(form.ComboBoxMix3.ItemText(9), "Water pure");
    EXPECT_EQ(form.ComboBoxMix3.ItemText(6), "Ethanol");
    EXPECT_EQ(form.ComboBoxMix3.ItemText(15), "10% CO in CO2");
}

TEST_F(FluidDesignerTest, SetToWaterShowsTableMolarMassAndSyringeQuantities) {
    form.ButtonRestoreWater.Click();

    EXPECT_EQ(form.EditDesignedMixtureName.Text(), "Water pure");
    EXPECT_EQ(form.ComboBoxMix1.ItemIndex(), 9);
    EXPECT_EQ(form.ComboBoxMix2.ItemIndex(), -1);
    EXPECT_EQ(form.RtDoubleEdit1.Value(), 1000);
    EXPECT_EQ(form.RtDoubleEditDesignedMixtureDensity.Value(), 0.9977350234985352);

    const std::vector<std::string> expected = {
        "Water pure          ",
        "  Component            Moles     Molar fraction   Mass ",
        "  Water pure           55.508    1.000 000        1000.000  ",
        "",
        "  Mixture molar mass : 18.0152797698975",
    };
    EXPECT_EQ(form.Memo2.Lines(), expected);
    EXPECT_EQ(form.RtDoubleEditDesignMixtureMolarMass.Value(), double(18.01528f));
    EXPECT_NEAR(form.RtDoubleEditDesigtnMixtureMOLperML.Value(), 0.0553827, 1e-7);
    EXPECT_NEAR(form.RtDoubleEditDesignMixtureMGperStroke.Value(), 12.4717, 1e-4);
    // The designed fluid keeps molar mass 0 until it is applied.
    EXPECT_EQ(mixer.DesignedMixture.MolarMass, 0.0f);
    EXPECT_TRUE(mixer.DesignedMixture.Fluid);

    ASSERT_TRUE(AssignFluidMixtureToPump(mixer));
    const TPumpDetails& pump = mixer.PumpDetails;
    EXPECT_EQ(pump.Fluid.GasNameLong, "Water pure");
    EXPECT_EQ(pump.Fluid.MolarMass, 18.01528f);
    EXPECT_EQ(pump.Fluid.DensityFluid20C, 0.997735f);
    ASSERT_EQ(pump.Fluid.Components.size(), 1u);
    EXPECT_EQ(pump.Fluid.Components[0].MixtureMass, 1000.0f);
    EXPECT_NEAR(pump.SYRINGE_SIZEmg, 12.4717, 1e-4);
    EXPECT_NEAR(pump.SYRINGE_GramsPerStep, 0.000519654, 1e-9);
    EXPECT_NEAR(pump.SYRINGE_MolsPerStep, 2.30761e-6, 1e-11);
    EXPECT_EQ(form.EditFluidName.Text(), "Water pure");
    EXPECT_NEAR(form.RtDoubleEditFluidMolPerGram.Value(), 0.0553827, 1e-7);
    EXPECT_NEAR(form.RtDoubleEditmgperStep.Value(), 0.000519654, 1e-9);
    EXPECT_NEAR(form.RtDoubleEditmolperstep.Value(), 2.30761e-6, 1e-11);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(FluidDesignerTest, WaterAndEthanolGiveMolesFractionsAndMolarMass) {
    EnterComponent(form.ComboBoxMix1, TGasItems::gH2O, form.RtDoubleEdit1, 100);
    EnterComponent(form.ComboBoxMix2, TGasItems::gC2H6O, form.RtDoubleEdit2, 78.93);

    // Choosing a component renames the design.
    EXPECT_EQ(form.EditDesignedMixtureName.Text(), "Designed mixture");
    ASSERT_EQ(form.Memo2.Count(), 6);
    EXPECT_EQ(form.Memo2.Line(0), "Designed mixture    ");
    EXPECT_EQ(form.Memo2.Line(2), "  Water pure           5.551     0.764 143        100.000   ");
    EXPECT_EQ(form.Memo2.Line(3), "  Ethanol              1.713     0.235 857        78.930    ");
    EXPECT_NEAR(form.RtDoubleEditDesignMixtureMolarMass.Value(), 24.63195, 1e-5);
    ASSERT_EQ(mixer.DesignedMixture.Components.size(), 2u);
    EXPECT_NEAR(mixer.DesignedMixture.Components[1].PartialPressure, 0.235857, 1e-6);

    // A mass typed later recomputes without renaming.
    form.EditDesignedMixtureName.SetText("Spirit");
    form.RtDoubleEdit2.SetValue(0);
    form.RtDoubleEdit2.KeyUp();
    EXPECT_EQ(form.Memo2.Line(0), "Spirit              ");
    EXPECT_EQ(form.RtDoubleEditDesignMixtureMolarMass.Value(), double(18.01528f));
}

TEST_F(FluidDesignerTest, WithoutComponentsTheMolarMassIsZeroAndMolPerMlIsKept) {
    form.ButtonRestoreWater.Click();
    form.ComboBoxMix1.Choose(0);

    ASSERT_EQ(form.Memo2.Count(), 4);
    EXPECT_EQ(form.Memo2.Line(1), "  Component            Moles     Molar fraction   Mass ");
    EXPECT_EQ(form.Memo2.Line(3), "  Mixture molar mass : 0");
    EXPECT_EQ(form.RtDoubleEditDesignMixtureMolarMass.Value(), 0);
    EXPECT_NEAR(form.RtDoubleEditDesigtnMixtureMOLperML.Value(), 0.0553827, 1e-7);
}

TEST_F(FluidDesignerTest, UnmatchedCatalogueMixtureEntersWithNegativeMoles) {
    EnterComponent(form.ComboBoxMix1, TGasItems::gH2Ar95, form.RtDoubleEdit1, 10);
    ASSERT_EQ(mixer.DesignedMixture.Components.size(), 1u);
    EXPECT_EQ(mixer.DesignedMixture.Components[0].GasNameMFC, "");
    EXPECT_EQ(form.Memo2.Line(2).substr(0, 30), std::string(23, ' ') + "-10.000");
    EXPECT_EQ(form.RtDoubleEditDesignMixtureMolarMass.Value(), -1);
}

// The assignment is checked on the designed fluid's molar mass, before anything changes; the
// molar mass of the fluid applied before does not matter.
TEST_F(FluidDesignerTest, AssignmentIsRefusedOnlyForADesignWithoutPositiveMolarMass) {
    struct Case {
        const char* what;
        TGasItems component;  // gUndefined: no component at all
        double previousMolarMass;
        bool assigned;
    } cases[] = {
        {"no component", TGasItems::gUndefined, 18.01528, false},
        {"unmatched component, molar mass -1", TGasItems::gCOCO290, 18.01528, false},
        {"water after a fluid shown with molar mass 0", TGasItems::gH2O, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TForm1 f;
        ScriptedDialogs d;
        TMixer m{f, d};
        m.PumpDetails.SYRINGE_VOLUMEul = 12.5;
        m.PumpDetails.SYRINGE_STEPS = 24000;
        FillComponentBoxes(m);
        BindFluidDesignerHandlers(m);
        f.ButtonRestoreWater.Click();
        ASSERT_TRUE(AssignFluidMixtureToPump(m));
        f.RtDoubleEditFluidMolarMass.SetValue(c.previousMolarMass);
        const TPumpDetails before = m.PumpDetails;

        f.EditDesignedMixtureName.SetText("New fluid");
        f.RtDoubleEditSyringeVolume.SetValue(25);
        f.RtIntegerEditFluidPPMLimit.SetValue(5000);
        f.ComboBoxMix1.SetItemIndex(static_cast<int>(c.component));
        f.RtDoubleEdit1.KeyUp();

        EXPECT_EQ(AssignFluidMixtureToPump(m), c.assigned);
        if (c.assigned) {
            EXPECT_TRUE(d.shown.empty());
            EXPECT_EQ(m.PumpDetails.Fluid.GasNameLong, "New fluid");
            EXPECT_EQ(m.PumpDetails.SYRINGE_VOLUMEul, 25);
            EXPECT_EQ(m.PumpDetails.FLUID_MAX_PPM, 5000);
            EXPECT_EQ(f.RtDoubleEditFluidMolarMass.Value(), double(18.01528f));
        } else {
            EXPECT_EQ(d.Texts(), std::vector<std::string>{"Fluid molar mass 0, cannot continue."});
            EXPECT_EQ(m.PumpDetails.Fluid.GasNameLong, "Water pure");
            EXPECT_EQ(m.PumpDetails.Fluid.MolarMass, before.Fluid.MolarMass);
            EXPECT_EQ(m.PumpDetails.SYRINGE_VOLUMEul, 12.5);
            EXPECT_EQ(m.PumpDetails.FLUID_MAX_PPM, before.FLUID_MAX_PPM);
            EXPECT_EQ(m.PumpDetails.SYRINGE_SIZEmg, before.SYRINGE_SIZEmg);
            EXPECT_EQ(f.EditFluidName.Text(), "Water pure");
        }
    }
}

TEST_F(FluidDesignerTest, DensityKeyUpUsesTheSyringeLastApplied) {
    form.ButtonRestoreWater.Click();
    form.RtDoubleEditSyringeVolume.SetValue(50);  // typed, not applied yet
    form.RtDoubleEditDesignedMixtureDensity.SetValue(0.8);
    form.RtDoubleEditDesignedMixtureDensity.KeyUp();
    EXPECT_NEAR(form.RtDoubleEditDesignMixtureMGperStroke.Value(), 10.0, 1e-12);
    EXPECT_NEAR(form.RtDoubleEditDesigtnMixtureMOLperML.Value(), 0.8 / double(18.01528f), 1e-15);
}

}  // namespace

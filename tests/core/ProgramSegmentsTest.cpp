// Segments of a program file built on the window's controls, and the choices of the headless
// bring-up that need no instrument.

#include <gtest/gtest.h>

#include <string>

#include "core/ProgramSegments.h"
#include "core/RunBringUp.h"
#include "core/SegmentProgram.h"
#include "form/Dialogs.h"
#include "form/Form.h"

namespace moirex {
namespace {

void Table(TMFCDetails& d, uint32_t k, const std::string& shortName, const std::string& own, float min, float max) {
    TLUTData& e = d.LUT[k];
    e.LUTNumber = k;
    e.NameShort = shortName;
    e.NameOwn = own;
    e.NameCustom = own;
    e.UnitType = "g/min";
    e.RangeMin = min;
    e.RangeMax = max;
}

class ProgramSegmentsTest : public ::testing::Test {
protected:
    ProgramSegmentsTest() {
        mixer.MixerState = TMixerState::msReady;
        for (TMFCDetails* d : {&mixer.MFCADetails, &mixer.MFCBDetails}) {
            d->Validated = true;
            d->ActiveLUT = 2;
            d->ComPortName = d == &mixer.MFCADetails ? "/dev/mfc-a" : "/dev/mfc-b";
        }
        Table(mixer.MFCADetails, 2, "O2", "Oxygen", 0.0025f, 0.3f);
        Table(mixer.MFCADetails, 3, "N2", "Nitrogen", 0.001f, 0.03f);
        Table(mixer.MFCADetails, 4, "SF6", "Sulphur hexafluoride", 0.001f, 0.1f);
        Table(mixer.MFCBDetails, 2, "Ar", "Argon", 0.005f, 0.0892f);
        std::string error;
        EXPECT_TRUE(SetUpWaterPump(mixer, 12.5, 1000000, "/dev/pump", error)) << error;
    }

    TForm1 form;
    ScriptedDialogs dialogs;
    TMixer mixer{form, dialogs};
};

TEST_F(ProgramSegmentsTest, WaterPumpIsNamedInTheFluidGroupForTheRecipe) {
    EXPECT_EQ(form.GroupBoxX.Caption(), "C-component: " + mixer.PumpDetails.Fluid.GasNameLong);
    EXPECT_EQ(mixer.PumpDetails.Fluid.GasNameLong, "Water pure");
}

TEST_F(ProgramSegmentsTest, SegmentsAreStoredInOrderWithTheirCorrections) {
    // Within range: no correction; gas A below its minimum is pulsed.
    SegmentBuildOutcome a = AddProgramSegment(mixer, {"first", 0.5, 1500, 20000, 0, 2, ""});
    ASSERT_TRUE(a.Added) << a.Refusal;
    EXPECT_TRUE(a.Corrections.empty());
    // Above the maxima: gas A held at its maximum rounded down, gas B at or below its minimum -> 0.
    SegmentBuildOutcome b = AddProgramSegment(mixer, {"ID:2", 1, 400000, 4000, 3000, 3, ""});
    ASSERT_TRUE(b.Added) << b.Refusal;
    ASSERT_GE(b.Corrections.size(), 2u);
    EXPECT_NE(b.Corrections[0].find("gas A 400000 µg/min corrected to 300000 µg/min"), std::string::npos) << b.Corrections[0];
    EXPECT_NE(b.Corrections[1].find("gas B 4000 µg/min corrected to 0 µg/min"), std::string::npos) << b.Corrections[1];

    ASSERT_EQ(mixer.StepProgram.size(), 2u);
    const TGasItem& s1 = mixer.StepProgram[0];
    EXPECT_EQ(s1.StepName, "first");
    EXPECT_DOUBLE_EQ(s1.StepTime, 0.5);
    ASSERT_EQ(s1.Components.size(), 2u);
    EXPECT_EQ(s1.Components[0].InstrumentID, 0);
    EXPECT_FLOAT_EQ(s1.Components[0].Pulsed, 0.0015f / 0.0025f);
    EXPECT_EQ(s1.Components[0].InstrumentPort, "/dev/mfc-a");
    EXPECT_FLOAT_EQ(s1.Components[1].Mass, 0.02f);

    const TGasItem& s2 = mixer.StepProgram[1];
    EXPECT_EQ(s2.StepName, "ID:2");
    ASSERT_EQ(s2.Components.size(), 2u);  // A and the fluid; B fell to 0
    EXPECT_FLOAT_EQ(s2.Components[0].Mass, 0.3f);
    EXPECT_EQ(s2.Components[1].InstrumentID, 2);
    EXPECT_FALSE(s2.Components[1].PumpCommand.empty());
    EXPECT_EQ(form.RzTabbedListBoxSteps.Count(), 2);
}

TEST_F(ProgramSegmentsTest, SegmentWithNothingLeftToDoseIsRefused) {
    SegmentBuildOutcome r = AddProgramSegment(mixer, {"pause", 0.1, 0, 4000, 0, 5, ""});
    EXPECT_FALSE(r.Added);
    EXPECT_NE(r.Refusal.find("no flow is left to dose"), std::string::npos) << r.Refusal;
    EXPECT_TRUE(mixer.StepProgram.empty());
}

TEST_F(ProgramSegmentsTest, GasChosenByNumberOrName) {
    std::string error;
    EXPECT_EQ(ChooseGasTable(mixer.MFCADetails, "3", error), 3);
    EXPECT_EQ(ChooseGasTable(mixer.MFCADetails, "N2", error), 3);
    EXPECT_EQ(ChooseGasTable(mixer.MFCADetails, "Nitrogen", error), 3);
    EXPECT_EQ(ChooseGasTable(mixer.MFCADetails, "oxygen", error), 2);
    EXPECT_EQ(ChooseGasTable(mixer.MFCADetails, "7", error), 0);
    EXPECT_NE(error.find("no gas table 7"), std::string::npos) << error;
    EXPECT_NE(error.find("3 Nitrogen"), std::string::npos) << error;
    EXPECT_EQ(ChooseGasTable(mixer.MFCADetails, "He", error), 0);
    EXPECT_NE(error.find("no gas table named \"He\""), std::string::npos) << error;
    // Tables after the first empty one do not count, as the gas list stops there.
    Table(mixer.MFCADetails, 6, "He", "Helium", 0.001f, 0.01f);
    EXPECT_EQ(ChooseGasTable(mixer.MFCADetails, "He", error), 0);
}

TEST_F(ProgramSegmentsTest, UnrecognisedGasMessageAndQuestion) {
    EXPECT_EQ(UnrecognisedGasMessage(mixer.MFCADetails, 1, 3), "");
    EXPECT_EQ(UnrecognisedGasMessage(mixer.MFCADetails, 1, 4),
              "MFC1 LUT:4\r\nGas type: SF6\r\nis not recognized by the software\r\n"
              "Contact Tarvel with this message, or select another gas type");
    const std::string q = GasConfirmationQuestion("Unknown", "Nitrogen", "Argon", "Argon");
    EXPECT_EQ(q.rfind("Read this and confirm that the gas lines connected to the mixer are as follows:\r\n\r\n"
                      "A: Previous gas: Unknown - - - Now connected gas : Nitrogen\r\n"
                      "B: Previous gas: Argon - - - Now connected gas : Argon\r\n\r\n",
                      0),
              0u);
    EXPECT_NE(q.find("flushing the mixer.\r\n\r\n\r\nAre you sure"), std::string::npos);
    const std::string end = "\r\n\r\nOtherwise proceed to flush the mixer.";
    EXPECT_EQ(q.substr(q.size() - end.size()), end);
}

}  // namespace
}  // namespace moirex

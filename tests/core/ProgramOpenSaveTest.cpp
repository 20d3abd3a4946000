// Opening a program file onto the window and saving the segment program.

#include "core/ProgramOpenSave.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "DesignPageFixture.h"
#include "core/ProgramSegments.h"
#include "core/SegmentProgram.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;

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

// Every field of two segment records and their parts, the nested fluid components included.
void ExpectSameItem(const TGasItem& a, const TGasItem& b, const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_EQ(a.StepName, b.StepName);
    EXPECT_EQ(a.StepTime, b.StepTime);
    EXPECT_EQ(a.GasNameMFC, b.GasNameMFC);
    EXPECT_EQ(a.GasNameLong, b.GasNameLong);
    EXPECT_EQ(a.InstrumentID, b.InstrumentID);
    EXPECT_EQ(a.InstrumentPort, b.InstrumentPort);
    EXPECT_EQ(a.PumpCommand, b.PumpCommand);
    EXPECT_EQ(a.MolarMass, b.MolarMass);
    EXPECT_EQ(a.PartialPressure, b.PartialPressure);
    EXPECT_EQ(a.Mass, b.Mass);
    EXPECT_EQ(a.MixtureMass, b.MixtureMass);
    EXPECT_EQ(a.DensityFluid20C, b.DensityFluid20C);
    EXPECT_EQ(a.MolPerML, b.MolPerML);
    EXPECT_EQ(a.MGperStroke, b.MGperStroke);
    EXPECT_EQ(a.Pulsed, b.Pulsed);
    EXPECT_EQ(a.Fluid, b.Fluid);
    EXPECT_EQ(a.FluidMaxPPM, b.FluidMaxPPM);
    EXPECT_EQ(a.Valid, b.Valid);
    EXPECT_EQ(a.CustTempC, b.CustTempC);
    EXPECT_EQ(a.CustPressmBar, b.CustPressmBar);
    ASSERT_EQ(a.Components.size(), b.Components.size());
    for (size_t i = 0; i < a.Components.size(); ++i)
        ExpectSameItem(a.Components[i], b.Components[i], where + "/" + std::to_string(i));
}

std::vector<std::string> ListTexts(const TForm1& form) {
    std::vector<std::string> t;
    for (const TListItem& row : form.RzTabbedListBoxSteps.Items()) t.push_back(row.Text);
    return t;
}

std::string Memo(const TForm1& form) { return form.Memo1.Text(); }

// Validated controllers: O2 on MFC A (0.0025 .. 0.3 g/min), Ar on MFC B (0.005 .. 0.0892 g/min),
// water in a 12.5 µl syringe.
class ProgramOpenSaveTest : public ::testing::Test {
protected:
    ProgramOpenSaveTest() {
        mixer.MixerState = TMixerState::msReady;
        for (TMFCDetails* d : {&mixer.MFCADetails, &mixer.MFCBDetails}) {
            d->Validated = true;
            d->ActiveLUT = 2;
            d->ComPortName = d == &mixer.MFCADetails ? "/dev/mfc-a" : "/dev/mfc-b";
        }
        Table(mixer.MFCADetails, 2, "O2", "Oxygen", 0.0025f, 0.3f);
        Table(mixer.MFCBDetails, 2, "Ar", "Argon", 0.005f, 0.0892f);
        std::string error;
        EXPECT_TRUE(SetUpWaterPump(mixer, 12.5, 1000000, "/dev/pump", error)) << error;
        folder = fs::temp_directory_path() / ("moirex-open-save-" + std::to_string(::getpid()));
        fs::create_directories(folder);
    }
    ~ProgramOpenSaveTest() override { fs::remove_all(folder); }

    // The operator's segments, added with "Add or Save Segment" from the editors.
    void DesignThreeSegments() {
        for (const TProgramSegment& s : {TProgramSegment{"Flush, \"dry\"", 0.25, 0, 20000, 0, 0, ""},
                                         TProgramSegment{"ID:2", 0.75, 1500, 20000, 200, 0, ""},
                                         TProgramSegment{"wet", 1.0 / 3.0, 100000, 0, 123.4, 0, ""}})
            ASSERT_TRUE(AddProgramSegment(mixer, s).Added) << s.Name;
    }

    // What the operator has in the editors, as a text to compare.
    std::string Editors() const {
        std::ostringstream o;
        o << form.EditStepComments.Text() << "|" << form.RtDoubleEditStepDuration.Value() << "|"
          << form.RtIntegerEditY1Flow.Value() << "|" << form.RtIntegerEditY2Flow.Value() << "|"
          << form.RtDoubleEditFluidFlow.Value() << "|" << form.Label30.Caption() << "|"
          << form.RtDoubleEditAchievableFluid.Value();
        return o.str();
    }

    void SetEditors(const std::string& comment, int64_t a, int64_t b, double fluid) {
        form.EditStepComments.SetText(comment);
        form.RtIntegerEditY1Flow.SetValue(a);
        FlowUpdateY1(mixer, false);
        form.RtIntegerEditY2Flow.SetValue(b);
        FlowUpdateY2(mixer, false);
        form.RtDoubleEditFluidFlow.SetValue(fluid);
        FluidFlowUpdate(mixer);
    }

    TForm1 form;
    ScriptedDialogs dialogs;
    TMixer mixer{form, dialogs};
    fs::path folder;
};

TEST_F(ProgramOpenSaveTest, SavedProgramOpensToTheSameSegmentsAndList) {
    DesignThreeSegments();
    const std::vector<TGasItem> designed = mixer.StepProgram;
    const std::vector<std::string> list = ListTexts(form);
    ASSERT_EQ(designed.size(), 3u);
    ASSERT_LT(designed[1].Components[0].Pulsed, 1.0f);  // gas A pulsed below its minimum

    const std::string path = (folder / "three.csv").string();
    ASSERT_TRUE(SaveProgramFile(mixer, path, EncodeDateTime(2026, 12, 10, 4, 5, 6, 0)));
    EXPECT_NE(Memo(form).find("Program saved to " + path + ": 3 segments."), std::string::npos);

    // A window started again: the same instruments, an empty program, other values in the editors.
    TForm1 form2;
    ScriptedDialogs dialogs2;
    TMixer mixer2{form2, dialogs2};
    mixer2.MixerState = TMixerState::msReady;
    mixer2.MFCADetails = mixer.MFCADetails;
    mixer2.MFCBDetails = mixer.MFCBDetails;
    std::string error;
    ASSERT_TRUE(SetUpWaterPump(mixer2, 12.5, 1000000, "/dev/pump", error)) << error;

    const TProgramOpenOutcome opened = OpenProgramFile(mixer2, path);
    ASSERT_TRUE(opened.Opened) << ::testing::PrintToString(opened.Lines);
    EXPECT_EQ(opened.Lines.at(0), "Program " + path + " opened: 3 segments.");
    EXPECT_EQ(opened.Lines.size(), 1u) << "no correction expected: " << ::testing::PrintToString(opened.Lines);
    ASSERT_EQ(mixer2.StepProgram.size(), designed.size());
    for (size_t i = 0; i < designed.size(); ++i)
        ExpectSameItem(mixer2.StepProgram[i], designed[i], "segment " + std::to_string(i + 1));
    EXPECT_EQ(ListTexts(form2), list);
    EXPECT_TRUE(dialogs2.shown.empty());
}

TEST_F(ProgramOpenSaveTest, SavedFileNamesTheComponentsAndTheCommandChosen) {
    DesignThreeSegments();
    const std::string text = ProgramFileText(mixer, EncodeDateTime(2026, 12, 10, 4, 5, 6, 0));
    EXPECT_NE(text.find("# Moirex segment program, saved 2026-12-10 04:05:06\n"), std::string::npos) << text;
    EXPECT_NE(text.find("# A-component: Oxygen\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Flush, \"\"dry\"\"\",0.25,0,20000,0,\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ID:2,0.75,1500,20000,"), std::string::npos) << text;
    const TGasItem& fluid = mixer.StepProgram[1].Components.back();
    EXPECT_NE(text.find("," + fluid.PumpCommand + "\n"), std::string::npos) << text;
}

TEST_F(ProgramOpenSaveTest, FirstFormOfTheFileOpensWithItsCorrections) {
    SetEditors("mine", 2000, 30000, 500);
    const std::string editors = Editors();
    const TProgramOpenOutcome r = OpenProgramText(mixer,
                                                  "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm\n"
                                                  "Flush with argon,0.25,0,20000,0\n"
                                                  ",0.75,400000,4000,3000\n",
                                                  "old.csv");
    ASSERT_TRUE(r.Opened) << ::testing::PrintToString(r.Lines);
    ASSERT_EQ(mixer.StepProgram.size(), 2u);
    EXPECT_EQ(mixer.StepProgram[1].StepName, "ID:2");
    EXPECT_EQ(mixer.StepProgram[1].Components[0].Mass, 0.3f);
    // Each correction is told in Memo1 with its segment and line, and kept per segment.
    ASSERT_EQ(r.Corrections.size(), 2u);
    EXPECT_TRUE(r.Corrections[0].empty());
    ASSERT_GE(r.Corrections[1].size(), 3u);
    const std::string memo = Memo(form);
    EXPECT_NE(memo.find("Program old.csv opened: 2 segments."), std::string::npos) << memo;
    EXPECT_NE(memo.find("segment 2 (line 3, ID:2): gas A 400000 µg/min corrected to 300000 µg/min"), std::string::npos)
        << memo;
    EXPECT_NE(memo.find("segment 2 (line 3, ID:2): gas B 4000 µg/min corrected to 0 µg/min"), std::string::npos) << memo;
    EXPECT_NE(memo.find("segment 2 (line 3, ID:2): fluid 3000 µg/min dosed as"), std::string::npos) << memo;
    // The operator's editors are as they were.
    EXPECT_EQ(Editors(), editors);
}

TEST_F(ProgramOpenSaveTest, RefusedFileChangesNothing) {
    DesignThreeSegments();
    SetEditors("mine", 2000, 30000, 500);
    form.RzTabbedListBoxSteps.SetItemIndex(1);
    const std::vector<TGasItem> before = mixer.StepProgram;
    const std::vector<std::string> list = ListTexts(form);
    const std::string editors = Editors();

    struct Case {
        const char* what;
        const char* text;
        const char* told;
    } cases[] = {
        {"a bad line", "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm,pump_command\na,1,0,0,0,\nb,x,0,0,0,\n",
         "  line 3: hours \"x\" is not a number"},
        {"a segment without flow", "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm,pump_command\na,1,0,20000,0,\nb,1,0,4000,0,\n",
         "  line 3: segment 2 (line 3, b): no flow is left to dose"},
        {"no segment", "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm,pump_command\n", "  the file holds no segment"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.shown.clear();
        const TProgramOpenOutcome r = OpenProgramText(mixer, c.text, "bad.csv");
        EXPECT_FALSE(r.Opened);
        ASSERT_EQ(mixer.StepProgram.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i) ExpectSameItem(mixer.StepProgram[i], before[i], "kept");
        EXPECT_EQ(ListTexts(form), list);
        EXPECT_EQ(form.RzTabbedListBoxSteps.ItemIndex(), 1);
        EXPECT_EQ(Editors(), editors);
        const std::string memo = Memo(form);
        EXPECT_NE(memo.find("Program bad.csv not opened:"), std::string::npos) << memo;
        EXPECT_NE(memo.find(c.told), std::string::npos) << memo;
        EXPECT_NE(memo.find("The segment program is unchanged."), std::string::npos) << memo;
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_NE(dialogs.shown[0].text.find(c.told), std::string::npos);
    }

    dialogs.shown.clear();
    EXPECT_FALSE(OpenProgramFile(mixer, (folder / "missing.csv").string()).Opened);
    EXPECT_EQ(mixer.StepProgram.size(), before.size());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_NE(dialogs.shown[0].text.find("cannot read it: No such file or directory"), std::string::npos);
}

TEST_F(ProgramOpenSaveTest, OpeningIsRefusedWhileARunIsUnderWay) {
    DesignThreeSegments();
    const std::string good = "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm\na,1,0,20000,0\n";
    for (TMixerState state : {TMixerState::msOperating, TMixerState::msStopping}) {
        mixer.MixerState = state;
        dialogs.shown.clear();
        EXPECT_FALSE(OpenProgramText(mixer, good, "a.csv").Opened);
        EXPECT_FALSE(OpenProgramFile(mixer, "/nonexistent/a.csv").Opened);
        EXPECT_EQ(mixer.StepProgram.size(), 3u);
        ASSERT_EQ(dialogs.shown.size(), 2u);
        EXPECT_EQ(dialogs.shown[0].text, OpenRefusedWhileRunning);
    }
    // Once the run has stopped, the program opens.
    mixer.MixerState = TMixerState::msReady;
    EXPECT_TRUE(OpenProgramText(mixer, good, "a.csv").Opened);
    EXPECT_EQ(mixer.StepProgram.size(), 1u);
}

TEST_F(ProgramOpenSaveTest, SavedPumpCommandIsKeptOnlyWhileItDosesTheSavedFlow) {
    dialogs.defaultAnswer = true;  // its water would condense at 21 ºC: asked, and taken
    ASSERT_TRUE(AddProgramSegment(mixer, {"wet", 1, 0, 20000, 1000, 0, ""}).Added);
    const std::string text = ProgramFileText(mixer, 0);
    const std::string command = mixer.StepProgram[0].Components.back().PumpCommand;
    ASSERT_EQ(command, "gIV6000A24000OV8A0GR");

    // The same syringe: the command is kept, nothing to tell.
    ClearStepProgram(mixer);
    TProgramOpenOutcome r = OpenProgramText(mixer, text, "wet.csv");
    ASSERT_TRUE(r.Opened);
    EXPECT_TRUE(r.Corrections[0].empty()) << ::testing::PrintToString(r.Corrections[0]);
    EXPECT_EQ(mixer.StepProgram[0].Components.back().PumpCommand, command);

    // A larger syringe doses more with the same command: the command is chosen anew for the flow.
    std::string error;
    ASSERT_TRUE(SetUpWaterPump(mixer, 25, 1000000, "/dev/pump", error)) << error;
    r = OpenProgramText(mixer, text, "wet.csv");
    ASSERT_TRUE(r.Opened);
    ASSERT_FALSE(r.Corrections[0].empty());
    EXPECT_NE(r.Corrections[0][0].find("pump command \"" + command + "\" doses 1990."), std::string::npos)
        << r.Corrections[0][0];
    EXPECT_NE(r.Corrections[0][0].find("the command is chosen anew"), std::string::npos);
    const TGasItem& fluid = mixer.StepProgram[0].Components.back();
    EXPECT_NE(fluid.PumpCommand, command);
    EXPECT_NEAR(fluid.Mass * 1e6, 995.2, 50);
}

TEST_F(ProgramOpenSaveTest, SaveRefusalsKeepTheOldFile) {
    const std::string path = (folder / "kept.csv").string();
    EXPECT_FALSE(SaveProgramFile(mixer, path, 0));  // nothing to save
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, NothingToSave);
    EXPECT_FALSE(fs::exists(path));

    DesignThreeSegments();
    dialogs.shown.clear();
    const std::string missingFolder = (folder / "no" / "such" / "p.csv").string();
    EXPECT_FALSE(SaveProgramFile(mixer, missingFolder, 0));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text.rfind("Could not write file \"" + missingFolder + "\". ", 0), 0u);
}

// In simulation the demonstration gases stand in for the controllers, as for "Add or Save Segment".
class ProgramOpenSaveSimulationTest : public testing::DesignPageTest {};

TEST_F(ProgramOpenSaveSimulationTest, TypedSegmentsRoundTripInSimulation) {
    dialogs.defaultAnswer = true;  // the first segment's water would condense at 21 ºC: asked, and taken
    form.EditStepComments.SetText("typed, by hand");
    SetFlows(1500, 20000, 2500);
    form.ButtonAddStep.Click();
    form.EditStepComments.SetText("");
    SetFlows(0, 30000, 0);
    form.ButtonAddStep.Click();
    ASSERT_EQ(mixer.StepProgram.size(), 2u);
    const std::vector<TGasItem> designed = mixer.StepProgram;
    const std::vector<std::string> list = ListTexts(form);

    const std::string text = ProgramFileText(mixer, 0);
    ClearStepProgram(mixer);
    const TProgramOpenOutcome r = OpenProgramText(mixer, text, "sim.csv");
    ASSERT_TRUE(r.Opened) << ::testing::PrintToString(r.Lines);
    ASSERT_EQ(mixer.StepProgram.size(), 2u);
    for (size_t i = 0; i < designed.size(); ++i) ExpectSameItem(mixer.StepProgram[i], designed[i], std::to_string(i));
    EXPECT_EQ(ListTexts(form), list);
}

}  // namespace
}  // namespace moirex

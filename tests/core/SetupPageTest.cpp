// The Setup page on the emulator, in the operator's order: start-up, ports, Validate, the gases and
// the gas-line question; and every way it can go wrong, each ending with the window enabled.

#include <filesystem>
#include <fstream>
#include <optional>

#include "SetupFixture.h"
#include "config/ConfigFile.h"
#include "core/RunBringUp.h"
#include "model/PumpSpeedFunction.h"
#include "support/IniFile.h"
#include "support/TextFormat.h"

namespace moirex::testing_setup {
namespace {

using Entry = ScriptedDialogs::Entry;

TEST_F(SetupOnEmulator, StartUpLeavesTheMixerInSimulationWithoutTouchingAnInstrument) {
    FormCreate(setup);
    EXPECT_EQ(form.Caption(), "Moirex  v2 2024-02-29");
    EXPECT_TRUE(mixer.TickReady);
    EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
    EXPECT_EQ(mixer.MFCADetails.ComPortName, "SIM");
    EXPECT_EQ(mixer.MFCBDetails.ComPortName, "SIM");
    EXPECT_EQ(mixer.PumpDetails.Port, "SIM");
    EXPECT_EQ(form.ListBoxPortPump.Count(), 3);
    EXPECT_EQ(form.PageControl1.ActivePageIndex(), 0);
    EXPECT_EQ(form.MemoPump.Lines(), PumpTableLines(12.5, mixer.PumpDetails.Fluid.DensityFluid20C));
    EXPECT_TRUE(fs::is_directory(UserdataFolder()));
    EXPECT_TRUE(fs::exists(IniFilePath()));  // the first start wrote the water recipe
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).Requests, 0u);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).Requests, 0u);
    EXPECT_TRUE(form.Enabled());
}

TEST_F(SetupOnEmulator, StartUpPreselectsTheRememberedPortsThatAreStillThere) {
    WriteIni("[COM ports]\r\nPump=" + Port(Instrument::Pump) + "\r\nMFCA=/dev/serial/by-id/usb-gone\r\nMFCB=" +
             Port(Instrument::MfcB) + "\r\n[Fluid]\r\nMixture name=Saved\r\n");
    FormCreate(setup);
    EXPECT_EQ(form.ListBoxPortPump.SelectedText(), Port(Instrument::Pump));
    EXPECT_EQ(form.ListBoxPortMFC1.ItemIndex(), -1);
    EXPECT_EQ(form.ListBoxPortMFC2.SelectedText(), Port(Instrument::MfcB));
}

TEST_F(SetupOnEmulator, FileLoggingKeepsTheSerialLinesOfValidationInTheLogFile) {
    WriteIni("[Logging]\r\nType[Off|File|Live]=File\r\n[Fluid]\r\nMixture name=Saved\r\n");
    FormCreate(setup);
    SelectInstrumentPorts();
    form.ButtonSetupValidate.Click();
    FormClose(mixer);  // writes out what is buffered
    std::vector<fs::path> logs;
    for (const auto& e : fs::directory_iterator(LogFolder()))
        if (e.path().filename().string().rfind("MoirexLog ", 0) == 0) logs.push_back(e.path());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].extension(), ".csl");
    std::ifstream in(logs[0]);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Logging system initialized"), std::string::npos);
    EXPECT_NE(text.find("PortName: " + Port(Instrument::Pump)), std::string::npos) << text.substr(0, 2000);
    EXPECT_NE(text.find(Port(Instrument::MfcA) + " LUT 2 ID: O2"), std::string::npos);
    EXPECT_NE(text.find("Query port : " + Port(Instrument::MfcB) + " Addr:2"), std::string::npos);
    setup.LogDestination.reset();
}

TEST_F(SetupOnEmulator, OperatorPathToReadyThenNoToTheQuestion) {
    StartAndValidate();
    EXPECT_TRUE(form.Enabled());
    EXPECT_TRUE(form.CheckBoxPump.Checked());
    EXPECT_TRUE(form.CheckBoxMFC.Checked());
    EXPECT_FALSE(form.CheckBoxGas.Checked());
    EXPECT_EQ(mixer.PumpDetails.Port, Port(Instrument::Pump));
    EXPECT_EQ(form.EditDebugCOMPort.Text(), Port(Instrument::Pump));

    // MFC A: four tables, one block each; MFC B: three blocks with the unit line twice.
    const std::vector<std::string> lines = Feedback();
    ASSERT_GE(lines.size(), 2u + 3u + 4u * 6u + 2u + 3u + 3u * 7u) << form.MemoSetupFeedback.Text();
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "Query port : " + Port(Instrument::MfcA) + " Addr:1");
    EXPECT_EQ(lines[2], " -> MFC found");
    EXPECT_EQ(lines[3], " -> Serial: 21034711");
    EXPECT_EQ(lines[4], " -> Gases listed");
    const TLUTData& o2 = mixer.MFCADetails.LUT[2];
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.begin() + 11),
              (std::vector<std::string>{" -> Gas         : O2", " -> Unit        : " + o2.UnitType,
                                        " -> Max         : " + FormatMask(o2.RangeMax, "0.000 000"),
                                        " -> Min         : " + FormatMask(o2.RangeMin, "0.000 000"),
                                        " -> Tot unit    : " + o2.TotalizerUnit, "----------------------------"}));
    const size_t b = 5 + 4 * 6;
    EXPECT_EQ(lines[b + 1], "Query port : " + Port(Instrument::MfcB) + " Addr:2");
    const TLUTData& ar = mixer.MFCBDetails.LUT[2];
    EXPECT_EQ(std::vector<std::string>(lines.begin() + b + 5, lines.begin() + b + 12),
              (std::vector<std::string>{" -> Gas         : Ar", " -> Unit        : " + ar.UnitType,
                                        " -> Max         : " + FormatMask(ar.RangeMax, "0.000 000"),
                                        " -> Min         : " + FormatMask(ar.RangeMin, "0.000 000"),
                                        " -> Unit        : " + ar.UnitType, " -> Tot unit    : " + ar.TotalizerUnit,
                                        "----------------------------"}));
    EXPECT_EQ(lines.size(), b + 5 + 3 * 7);
    ASSERT_EQ(form.ListBox1.Count(), 4);
    ASSERT_EQ(form.ListBox2.Count(), 3);
    EXPECT_EQ(form.ListBox1.Items()[2].Text, mixer.MFCADetails.LUT[4].NameOwn);
    // SF6, which the catalogue does not know, has no name of its own: its row is not empty.
    EXPECT_EQ(mixer.MFCADetails.LUT[5].NameOwn, "");
    EXPECT_EQ(form.ListBox1.Items()[3].Text, "SF6 (not recognized)");
    EXPECT_EQ(form.ListBox1.Items()[3].Data, 5);

    // Validation saved the three ports.
    const TIniFile ini(IniFilePath());
    EXPECT_EQ(ini.ReadString("COM ports", "Pump", ""), Port(Instrument::Pump));
    EXPECT_EQ(ini.ReadString("COM ports", "MFCA", ""), Port(Instrument::MfcA));
    EXPECT_EQ(ini.ReadString("COM ports", "MFCB", ""), Port(Instrument::MfcB));

    dlg.answers = {true};
    Pick(form.ListBox1, 1);  // N2, table 3
    EXPECT_TRUE(dlg.shown.empty()) << "no question before both gases are chosen";
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).ActiveTable, 3);
    Pick(form.ListBox2, 0);  // Ar, table 2
    const std::string n2 = mixer.MFCADetails.LUT[3].NameOwn;
    const std::string argon = mixer.MFCBDetails.LUT[2].NameOwn;
    ASSERT_EQ(dlg.shown.size(), 1u);
    EXPECT_EQ(dlg.shown[0].kind, Entry::Question);
    EXPECT_EQ(dlg.shown[0].caption, "Confirm selected gases");
    EXPECT_EQ(dlg.shown[0].text, GasConfirmationQuestion("Unknown", n2, "Unknown", argon));
    EXPECT_NE(dlg.shown[0].text.find("A: Previous gas: Unknown - - - Now connected gas : " + n2 + "\r\nB: Previous"),
              std::string::npos);
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady);
    EXPECT_TRUE(form.CheckBoxGas.Checked());
    EXPECT_EQ(form.RzLEDDisplay1.Caption(), "Stopped");
    const std::vector<std::string> after = Feedback();
    EXPECT_EQ(after[after.size() - 2], "-------------------------------");
    EXPECT_EQ(after.back(), "  Mixer is now properly set up.");
    EXPECT_TRUE(FeedbackHas("MFC A gas set to  : " + n2));
    EXPECT_TRUE(FeedbackHas("------------------------------"));
    ASSERT_EQ(form.MemoLog.Count(), 1);
    EXPECT_NE(form.MemoLog.Line(0).find(form.MemoSetupFeedback.Text()), std::string::npos);
    EXPECT_EQ(ReadGasHistory().OldGasA, n2);
    EXPECT_EQ(ReadGasHistory().OldGasB, argon);
    EXPECT_TRUE(form.Enabled());

    // Another gas for B while all is set: the question again; No keeps the history, and no run
    // can start until the question is answered Yes.
    dlg.answers = {false};
    Pick(form.ListBox2, 1);  // CO2
    ASSERT_EQ(dlg.shown.size(), 2u);
    EXPECT_NE(dlg.shown[1].text.find("B: Previous gas: " + argon + " - - - Now connected gas : " +
                                     mixer.MFCBDetails.LUT[3].NameOwn),
              std::string::npos);
    EXPECT_FALSE(form.CheckBoxGas.Checked());
    EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
    EXPECT_EQ(ReadGasHistory().OldGasB, argon);
    EXPECT_EQ(form.MemoLog.Count(), 1);
    EXPECT_TRUE(form.Enabled());
}

// Port choices that validation refuses or only partly follows.
TEST_F(SetupOnEmulator, PortChoices) {
    FormCreate(setup);
    struct Case {
        const char* name;
        std::optional<Instrument> pump, a, b;  // none: no selection
        bool refused;
    };
    const std::vector<Case> cases = {
        {"the same port twice", Instrument::Pump, Instrument::MfcA, Instrument::MfcA, true},
        {"only MFC A", std::nullopt, Instrument::MfcA, std::nullopt, true},
        {"no MFC A", Instrument::Pump, std::nullopt, Instrument::MfcB, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t requestsA = emulator.Mfc(Instrument::MfcA).Requests;
        const auto port = [&](std::optional<Instrument> i) { return i ? Port(*i) : std::string(); };
        Select(form.ListBoxPortPump, port(c.pump));
        Select(form.ListBoxPortMFC1, port(c.a));
        Select(form.ListBoxPortMFC2, port(c.b));
        mixer.MixerState = TMixerState::msReady;  // what the refusal must leave alone
        form.ButtonSetupValidate.Click();
        WaitForIdlePump();
        if (c.refused) {
            EXPECT_EQ(Feedback(), std::vector<std::string>{"Select different COM ports for the MFCs"});
            EXPECT_EQ(mixer.MixerState, TMixerState::msReady);
            EXPECT_FALSE(form.CheckBoxPump.Checked());
        } else {
            EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
            EXPECT_TRUE(form.CheckBoxPump.Checked());
            EXPECT_FALSE(form.CheckBoxMFC.Checked());
            EXPECT_TRUE(mixer.MFCBDetails.Validated);
            EXPECT_EQ(form.ListBox1.Count(), 0);
            EXPECT_EQ(form.ListBox2.Count(), 3);
            EXPECT_EQ(TIniFile(IniFilePath()).ReadString("COM ports", "MFCB", "none"), "none");
        }
        EXPECT_EQ(emulator.Mfc(Instrument::MfcA).Requests, requestsA) << "MFC A was queried";
        EXPECT_TRUE(form.Enabled());
    }
}

// MFC B chosen by a second name of MFC A's device (a link to it, as /dev/serial/by-id is to
// /dev/ttyUSB0): the same port, refused before any instrument is asked.
TEST_F(SetupOnEmulator, OnePortUnderTwoNamesIsTheSamePort) {
    FormCreate(setup);
    const std::string secondName = emulator.RuntimeFolder() + "/mfc-a-second-name";
    std::filesystem::create_symlink(Port(Instrument::MfcA), secondName);
    for (TListBox* list : {&form.ListBoxPortPump, &form.ListBoxPortMFC1, &form.ListBoxPortMFC2}) list->AddItem(secondName);
    const uint64_t requestsA = emulator.Mfc(Instrument::MfcA).Requests;
    Select(form.ListBoxPortPump, Port(Instrument::Pump));
    Select(form.ListBoxPortMFC1, Port(Instrument::MfcA));
    Select(form.ListBoxPortMFC2, secondName);
    form.ButtonSetupValidate.Click();
    EXPECT_EQ(Feedback(), std::vector<std::string>{"Select different COM ports for the MFCs"});
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).Requests, requestsA);
    std::filesystem::remove(secondName);
}

TEST_F(SetupOnEmulator, GasForMFCBWhileMFCAHasNone) {
    StartAndValidate();
    mixer.MFCADetails.ActiveLUT = 3;
    Pick(form.ListBox2, 2);
    EXPECT_FALSE(form.CheckBoxGas.Checked());
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).ActiveTable, 4);
    EXPECT_EQ(mixer.MFCADetails.ActiveLUT, 0u);
    EXPECT_TRUE(FeedbackHas("MFC B gas set to  : " + mixer.MFCBDetails.LUT[4].NameOwn));
    EXPECT_TRUE(FeedbackHas("  -> Max flow     : " + FormatGeneral(mixer.MFCBDetails.LUT[4].RangeMax)));
    EXPECT_TRUE(dlg.shown.empty());
    EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
    EXPECT_TRUE(form.Enabled());
}

TEST_F(SetupOnEmulator, AGasTheCatalogueDoesNotKnow) {
    StartAndValidate();
    Pick(form.ListBox2, 0);
    Pick(form.ListBox1, 3);  // SF6, table 5
    ASSERT_EQ(dlg.shown.size(), 1u);
    EXPECT_EQ(dlg.shown[0].kind, Entry::Message);
    EXPECT_EQ(dlg.shown[0].text,
              "MFC1 LUT:5\r\nGas type: SF6\r\nis not recognized by the software\r\n"
              "Contact Tarvel with this message, or select another gas type");
    EXPECT_FALSE(form.CheckBoxGas.Checked());
    EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
    EXPECT_TRUE(form.Enabled());
}

TEST_F(SetupOnEmulator, AGasSwitchTheControllerRefuses) {
    StartAndValidate();
    Pick(form.ListBox1, 0);
    emulator.InjectAnswerFault(Instrument::MfcB, sim::AnswerFault::Exception, 4, true);
    form.ListBox2.SetItemIndex(1);  // refused: clicked directly, the failure lines are expected
    form.ListBox2.Click();
    const std::vector<std::string> lines = Feedback();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], " ** Failed to set active gas for MFC B, (index:3) plese try again ** ");
    EXPECT_EQ(lines.back(), "   active gas table 3 (register 0x4139): Modbus exception 4 (3 tries)");
    EXPECT_FALSE(form.CheckBoxGas.Checked());
    EXPECT_TRUE(dlg.shown.empty());
    EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
    EXPECT_TRUE(form.Enabled());
}

TEST_F(SetupOnEmulator, APumpThatDoesNotAnswer) {
    FormCreate(setup);
    emulator.SetSilent(Instrument::Pump, true);
    SelectInstrumentPorts();
    form.ButtonSetupValidate.Click();
    EXPECT_FALSE(form.CheckBoxPump.Checked());
    EXPECT_EQ(mixer.PumpDetails.Port, "");
    EXPECT_TRUE(form.CheckBoxMFC.Checked());
    EXPECT_EQ(Feedback()[1], "Query port : " + Port(Instrument::MfcA) + " Addr:1") << "no pump line";
    dlg.defaultAnswer = true;
    Pick(form.ListBox1, 0);
    Pick(form.ListBox2, 0);
    EXPECT_TRUE(form.CheckBoxGas.Checked());
    EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
    EXPECT_TRUE(dlg.shown.empty());
    EXPECT_TRUE(form.Enabled());
}

// MFC A's switch fails on a corrupted answer (the controller may well have switched); a good
// switch of MFC B afterwards must not make the gases "selected" with A's table unknown.
TEST_F(SetupOnEmulator, AFailedSwitchOfAIsNotMadeGoodByBsSwitch) {
    StartAndValidate();
    dlg.defaultAnswer = true;
    emulator.InjectAnswerFault(Instrument::MfcA, sim::AnswerFault::BadCrc, 0, true);
    form.ListBox1.SetItemIndex(1);  // N2, table 3: every answer spoiled
    form.ListBox1.Click();
    EXPECT_TRUE(FeedbackHas(" ** Failed to set active gas for MFC A, (index:3) plese try again ** "));
    emulator.ClearFaults(Instrument::MfcA);
    Pick(form.ListBox2, 0);
    EXPECT_NE(mixer.MFCADetails.ActiveLUT, 3u);
    EXPECT_FALSE(form.CheckBoxGas.Checked());
    EXPECT_EQ(mixer.MixerState, TMixerState::msSimulation);
    EXPECT_TRUE(dlg.shown.empty()) << "no gas-line question with A's gas unknown";
    // Clicking A's gas again switches it; then the gases are selected.
    Pick(form.ListBox1, 1);
    EXPECT_TRUE(form.CheckBoxGas.Checked());
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady);
}

// A pump stuck busy cannot be brought to rest: it is not found, and its initialisation is not sent.
TEST_F(SetupOnEmulator, APumpStuckBusyIsNotFound) {
    FormCreate(setup);
    emulator.SetPumpStuckBusy(true);
    SelectInstrumentPorts();
    form.ButtonSetupValidate.Click();
    EXPECT_FALSE(form.CheckBoxPump.Checked());
    EXPECT_EQ(mixer.PumpDetails.Port, "");
    EXPECT_TRUE(form.Enabled());
}

TEST_F(SetupOnEmulator, ASaveThatFailsDuringValidationLeavesTheWindowEnabled) {
    FormCreate(setup);
    // A folder where the file should be: every write fails, whoever runs the test.
    fs::remove(IniFilePath());
    fs::create_directory(IniFilePath());
    SelectInstrumentPorts();
    form.ButtonSetupValidate.Click();
    ASSERT_EQ(dlg.shown.size(), 1u);
    EXPECT_EQ(dlg.shown[0].kind, Entry::Error);
    EXPECT_EQ(dlg.shown[0].text, "Unable to write to " + IniFilePath());
    EXPECT_TRUE(form.CheckBoxMFC.Checked());
    EXPECT_TRUE(form.Enabled());
    EXPECT_FALSE(form.BusyCursor());
}

TEST_F(SetupOnEmulator, ApplyAndSaveReinitialisesAFoundPumpWithTheNewSyringe) {
    StartAndValidate();
    const int lines = form.MemoSetupFeedback.Count();
    const double fastest = form.RtDoubleEditFluidFlow.MaxValue();
    form.RtDoubleEditSyringeVolume.SetValue(25);
    form.ButtonApplyPumpAndFluid.Click();
    EXPECT_DOUBLE_EQ(TIniFile(IniFilePath()).ReadFloat("Syringe", "Volume MicroLiter", 0), 25);
    EXPECT_DOUBLE_EQ(mixer.PumpDetails.SYRINGE_VOLUMEul, 25);
    const std::vector<std::string> l = Feedback();
    ASSERT_GT(static_cast<int>(l.size()), lines + 2);
    EXPECT_EQ(l[static_cast<size_t>(lines) + 1], "Query port         :" + Port(Instrument::Pump));
    EXPECT_TRUE(FeedbackHas("Found pump on port :" + Port(Instrument::Pump))) << form.MemoSetupFeedback.Text();
    EXPECT_NEAR(form.RtDoubleEditFluidFlow.MaxValue(), 2 * fastest, 1e-6 * fastest) << "the fluid range follows the syringe";
    EXPECT_TRUE(dlg.shown.empty());
    EXPECT_TRUE(form.Enabled());
}

TEST_F(SetupOnEmulator, AFailureInTheMiddleOfValidationEndsOnlyThatPress) {
    FormCreate(setup);
    SelectInstrumentPorts();
    // Something fails while the window is disabled for the instruments.
    form.MemoSetupFeedback.Subscribe([this] {
        if (form.MemoSetupFeedback.Count() > 0 && form.MemoSetupFeedback.Lines().back() == " -> MFC found")
            throw std::runtime_error("read-out failed");
    });
    form.ButtonSetupValidate.Click();
    EXPECT_EQ(dlg.Texts(), std::vector<std::string>{"read-out failed"});
    EXPECT_TRUE(form.Enabled());
    EXPECT_FALSE(form.BusyCursor());
    EXPECT_FALSE(form.CheckBoxMFC.Checked());
}

}  // namespace
}  // namespace moirex::testing_setup

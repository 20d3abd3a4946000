// The pump tools of the "Debug && Development" page, pressed through their buttons: the bytes on
// the line, the lines of the pane, and priming and plunger down only once the mixer is ready.

#include "SetupFixture.h"
#include "config/ServiceTools.h"
#include "devices/PtyPeer.h"

namespace moirex::testing_setup {
namespace {

using moirex::testing::Bytes;
using moirex::testing::ScriptedPeer;
using moirex::testing::ToBytes;

// A pump at rest without error: the connect query gets its "255" answer, every command "/0`".
Bytes RestingPump(const Bytes& request) {
    if (request == ToBytes("/1?22\r")) return ToBytes("/0`255\x03\r\n");
    return ToBytes("/0`\x03\r\n");
}

// Every pane line but the plain ones begins with the "dd-hh-mm-ss " time stamp.
std::string WithoutStamp(const std::string& line) {
    EXPECT_GE(line.size(), 12u) << line;
    EXPECT_EQ(line[2], '-') << line;
    EXPECT_EQ(line[11], ' ') << line;
    return line.size() >= 12 ? line.substr(12) : line;
}

TEST_F(SetupOnEmulator, SendPutsTheTypedTextAfterTheFrameAndLogsFourLines) {
    FormCreate(setup);
    ScriptedPeer peer(RestingPump);
    form.EditDebugCOMPort.SetText(peer.Path());
    struct Case {
        std::string typed;
        std::string onTheLine;
    };
    for (const Case& c : {Case{"/1TI?23", "/1/1TI?23\r\r"}, Case{"ZR", "/1ZR\r\r"}}) {
        SCOPED_TRACE(c.typed);
        const size_t before = peer.Requests().size();
        const int linesBefore = form.MemoDebugCOM.Count();
        form.EditDebugCOMSend.SetText(c.typed);
        form.ButtonDebugCOMSend.Click();
        const std::vector<Bytes> requests = peer.Requests();
        ASSERT_EQ(requests.size(), before + 2);
        EXPECT_EQ(requests[before], ToBytes("/1?22\r"));
        EXPECT_EQ(requests[before + 1], ToBytes(c.onTheLine));
        ASSERT_EQ(form.MemoDebugCOM.Count(), linesBefore + 4);
        const auto& l = form.MemoDebugCOM.Lines();
        EXPECT_EQ(WithoutStamp(l[linesBefore]), "");
        EXPECT_EQ(WithoutStamp(l[linesBefore + 1]), "Send data          : " + c.typed + "\r");
        EXPECT_EQ(WithoutStamp(l[linesBefore + 2]), "Pump status        : Ready, No error");
        EXPECT_EQ(WithoutStamp(l[linesBefore + 3]).rfind("Comm Response      : /0`", 0), 0u) << l[linesBefore + 3];
    }
    EXPECT_EQ(form.RzLEDDisplay1.Caption(), "Stopped");
    EXPECT_TRUE(form.Enabled());
}

TEST_F(SetupOnEmulator, SendAndStopWithoutAPump) {
    FormCreate(setup);
    emulator.SetSilent(Instrument::Pump, true);
    form.EditDebugCOMPort.SetText(Port(Instrument::Pump));
    form.ButtonDebugCOMSend.Click();
    const auto& l = form.MemoDebugCOM.Lines();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(WithoutStamp(l[2]), "Pump status        : Ready, Undefined");
    EXPECT_EQ(WithoutStamp(l[3]), "Comm Status        : Pump state undefined, cannot send command: /1/1TI?23\r\r");
    form.Button2.Click();
    EXPECT_EQ(form.MemoDebugCOM.Lines().back(), "Stop failed");
    EXPECT_TRUE(dlg.shown.empty());

    emulator.SetSilent(Instrument::Pump, false);
    form.Button2.Click();
    EXPECT_EQ(form.MemoDebugCOM.Lines().back(), "Stopped");
}

TEST_F(SetupOnEmulator, PrimingAndPlungerDownOnlyOnceTheMixerIsReady) {
    FormCreate(setup);
    for (TButton* button : {&form.ButtonPumpFluidFast, &form.Button1}) {
        SCOPED_TRACE(button->Name);
        const int before = form.MemoDebugCOM.Count();
        button->Click();
        ASSERT_EQ(form.MemoDebugCOM.Count(), before + 1);
        EXPECT_EQ(WithoutStamp(form.MemoDebugCOM.Lines().back()), "Only possible when mixer state is Validated and Stopped");
    }
    EXPECT_EQ(emulator.Pump().Command, "");

    SelectInstrumentPorts();
    form.ButtonSetupValidate.Click();
    WaitForIdlePump();
    dlg.defaultAnswer = true;
    Pick(form.ListBox1, 0);
    Pick(form.ListBox2, 0);
    ASSERT_EQ(mixer.MixerState, TMixerState::msReady);
    const int lines = form.MemoDebugCOM.Count();
    form.Button1.Click();
    // The emulator keeps what it executes, without the closing R.
    EXPECT_EQ(emulator.Pump().Command + "R", PlungerDownCommand);
    WaitForIdlePump();
    form.ButtonPumpFluidFast.Click();
    EXPECT_EQ(emulator.Pump().Command + "R", PrimingCommand);
    EXPECT_EQ(form.MemoDebugCOM.Count(), lines) << "nothing more is shown";
    EXPECT_TRUE(form.Enabled());
}

}  // namespace
}  // namespace moirex::testing_setup

// The desktop program's window with the design's handlers: the close refused while operating,
// the Setup page's resize rule, and a short program started and stopped from the buttons on the
// emulator.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <unistd.h>
#include <filesystem>
#include <memory>

#include "WindowFixture.h"
#include "core/SetupPage.h"
#include "core/UnendedRun.h"
#include "form/Dialogs.h"
#include "sim/Emulator.h"
#include "sim/QuickEmulator.h"
#include "support/FileLocations.h"
#include "support/Clock.h"
#include "ui/Application.h"
#include "ui/FlowGraph.h"
#include "ui/StopOnSignal.h"

#include <QLineEdit>
#include <QListWidget>

namespace moirex::testing_ui {
namespace {

namespace fs = std::filesystem;
using sim::Instrument;

class AppTest : public ::testing::Test {
protected:
    AppTest() {
        home = fs::temp_directory_path() / ("moirex-ui-test-" + std::to_string(::getpid()));
        SetHomeFolder(home.string());
        dialogs.defaultAnswer = true;
    }
    ~AppTest() override {
        app.reset();
        std::error_code ec;
        fs::remove_all(home, ec);
    }
    void Start(ui::TAppOptions options = {}) {
        options.ScriptedDialogs = &dialogs;
        app = std::make_unique<ui::TMoirexApp>(options);
        app->Window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->Window()));
    }
    template <typename Widget>
    Widget* W(const TControl& control) {
        return Find<Widget>(&app->Window(), control.Name);
    }
    // Lets the window run until done() or the time is up.
    static bool RunUntil(const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms) return false;
            QTest::qWait(10);
        }
        return true;
    }

    fs::path home;
    ScriptedDialogs dialogs;
    std::unique_ptr<ui::TMoirexApp> app;
};

TEST_F(AppTest, CloseRefusedWhileOperatingWithItsMessage) {
    Start();
    app->Mixer().MixerState = TMixerState::msOperating;
    EXPECT_FALSE(app->Window().close());
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().text, "Stop the mixture first");
    EXPECT_TRUE(app->Window().isVisible());
    app->Mixer().MixerState = TMixerState::msReady;
    EXPECT_TRUE(app->Window().close());
}

TEST_F(AppTest, FeedbackGroupFollowsTheWindowWidthNeverBelow300) {
    Start();
    auto* feedback = W<QGroupBox>(app->Form.GroupBox3);
    struct Case {
        int window, group;
    } cases[] = {{1126, 676}, {1000, 550}, {750, 300}, {700, 300}, {600, 300}};
    for (const Case& c : cases) {
        app->Window().resize(c.window, 689);
        QApplication::processEvents();
        EXPECT_EQ(app->Form.GroupBox3.Width(), c.group) << c.window;
        EXPECT_EQ(feedback->width(), c.group) << c.window;
    }
}

// The window on the emulator (unpaced, no noise): the operator's path through the widgets.
class AppOnEmulator : public AppTest {
protected:
    static sim::EmulatorOptions Options(const fs::path& home) {
        return testing_sim::QuickEmulator((home / "sim").string(), 20);
    }
    AppOnEmulator() : emulator(Options(home)) {}
    ~AppOnEmulator() override {
        app.reset();
        emulator.Stop();
    }
    void StartOnEmulator() {
        ui::TAppOptions options;
        options.PumpPort = emulator.PortPath(Instrument::Pump);
        options.MFCAPort = emulator.PortPath(Instrument::MfcA);
        options.MFCBPort = emulator.PortPath(Instrument::MfcB);
        options.Tune = [this](TSetupContext& setup) {
            setup.Instruments.Timing = TPumpPortTiming{5, 150};
            setup.Instruments.Clk = &instrumentClock;  // the pump's stand-by waits pass at once
            setup.Run.PumpTiming = TPumpPortTiming{5, 150};
            setup.Run.StopPollMaxMs = 20;
            setup.ListPorts = [this] {
                return std::vector<std::string>{emulator.PortPath(Instrument::MfcA),
                                                emulator.PortPath(Instrument::MfcB),
                                                emulator.PortPath(Instrument::Pump)};
            };
        };
        Start(options);
    }
    void ClickRow(TListBox& control, int row) {
        auto* list = W<QListWidget>(control);
        ASSERT_LT(row, list->count()) << control.Name;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    }
    // The whole value pasted at once: the design page corrects a flow at every key release, so
    // typed digit by digit a flow of gas B would be cut to 0 at its first digit (below the
    // controller's minimum).
    void Paste(const TControl& field, const QString& text) {
        auto* edit = W<QLineEdit>(field);
        edit->setFocus();
        edit->selectAll();
        QApplication::clipboard()->setText(text);
        QTest::keySequence(edit, QKeySequence::Paste);
    }
    bool Feedback(const std::string& line) const {
        const auto& lines = app->Form.MemoSetupFeedback.Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // Validate, then the first gas of each controller, the question answered Yes.
    void ValidateAndChooseGases() {
        TForm1& f = app->Form;
        f.PageControl1.SetActivePageIndex(0);
        QTest::mouseClick(W<QPushButton>(f.ButtonSetupValidate), Qt::LeftButton);
        ASSERT_TRUE(RunUntil([this] { return !SetupWorkRunning(app->Setup()); }, 20000));
        ASSERT_TRUE(f.CheckBoxPump.Checked());
        ASSERT_TRUE(f.CheckBoxMFC.Checked());
        ASSERT_GT(f.ListBox1.Count(), 0);
        ASSERT_TRUE(RunUntil([this] { return !emulator.Pump().Busy; }, 10000));
        // Each switch runs while the window is disabled: the next click waits for its end.
        ClickRow(f.ListBox1, 1);  // N2
        ASSERT_TRUE(RunUntil([&f] { return f.Enabled(); }, 20000));
        ClickRow(f.ListBox2, 0);  // Ar
        ASSERT_TRUE(RunUntil([&f] { return f.Enabled(); }, 20000));
    }

    void StartShortProgram();

    sim::Emulator emulator;
    ManualClock instrumentClock;
};

TEST_F(AppOnEmulator, ValidateThroughTheWidgetsEndsProperlySetUp) {
    StartOnEmulator();
    TForm1& f = app->Form;
    // With no ports in the configuration file, the emulator's are selected.
    EXPECT_EQ(f.ListBoxPortPump.SelectedText(), emulator.PortPath(Instrument::Pump));
    EXPECT_EQ(f.ListBoxPortMFC1.SelectedText(), emulator.PortPath(Instrument::MfcA));
    EXPECT_EQ(f.ListBoxPortMFC2.SelectedText(), emulator.PortPath(Instrument::MfcB));
    ValidateAndChooseGases();
    EXPECT_TRUE(f.CheckBoxGas.Checked());
    EXPECT_EQ(app->Mixer().MixerState, TMixerState::msReady);
    EXPECT_TRUE(Feedback("  Mixer is now properly set up."));
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().kind, ScriptedDialogs::Entry::Question);
    EXPECT_EQ(dialogs.shown.back().caption, "Confirm selected gases");
    // The window takes input again after the instrument work.
    EXPECT_TRUE(f.Enabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(W<QListWidget>(f.ListBox1)->currentRow(), 1);
}

// Validate's instrument work runs while the window goes on: the click returns at once with the
// window disabled (busy cursor, a feedback line), and a click meanwhile does not land later.
TEST_F(AppOnEmulator, ValidateLeavesTheWindowServedAndDisabledUntilItEnds) {
    StartOnEmulator();
    TForm1& f = app->Form;
    emulator.SetDelayMs(Instrument::MfcA, 20);  // a read-out that takes its time
    f.PageControl1.SetActivePageIndex(0);
    QTest::mouseClick(W<QPushButton>(f.ButtonSetupValidate), Qt::LeftButton);
    ASSERT_TRUE(SetupWorkRunning(app->Setup()));
    EXPECT_FALSE(f.Enabled());
    EXPECT_FALSE(W<QListWidget>(f.ListBoxPortPump)->isEnabled());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(Feedback("Validating the selected ports..."));
    // A click on another pump port meanwhile goes nowhere (it would undo the pump's check).
    ClickRow(f.ListBoxPortPump, 0);
    ASSERT_TRUE(RunUntil([this] { return !SetupWorkRunning(app->Setup()); }, 20000));
    EXPECT_EQ(f.ListBoxPortPump.SelectedText(), emulator.PortPath(Instrument::Pump));
    EXPECT_TRUE(f.CheckBoxPump.Checked());
    EXPECT_TRUE(f.CheckBoxMFC.Checked());
    EXPECT_TRUE(f.Enabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// A run that never ended on these ports is told at the next Validate; what its instruments are
// doing is read on the validation's thread, not inside the click.
TEST_F(AppOnEmulator, UnendedRunIsToldAtValidateWithTheInstrumentsReadOffTheClick) {
    StartOnEmulator();
    TForm1& f = app->Form;
    TUnendedRun mark;
    mark.Holder = "Moirex window";
    mark.Pid = ::getpid();
    mark.Started = "2026-12-10 14:02:11";
    mark.PumpPort = emulator.PortPath(Instrument::Pump);
    mark.PortA = emulator.PortPath(Instrument::MfcA);
    mark.PortB = emulator.PortPath(Instrument::MfcB);
    std::string error;
    ASSERT_TRUE(MarkRunUnderWay(mark, error)) << error;
    mark.Pid = 999999999;  // its process is gone, and no guardian wrote an account
    ASSERT_TRUE(WriteUnendedRun(mark));
    auto told = [&f](const std::string& part) {
        const auto& lines = f.MemoSetupFeedback.Lines();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
    };
    f.PageControl1.SetActivePageIndex(0);
    QTest::mouseClick(W<QPushButton>(f.ButtonSetupValidate), Qt::LeftButton);
    EXPECT_TRUE(SetupWorkRunning(app->Setup()));
    EXPECT_FALSE(told("The instruments were found")) << "read inside the click";
    ASSERT_TRUE(RunUntil([this] { return !SetupWorkRunning(app->Setup()); }, 20000));
    EXPECT_TRUE(told("did not end, and no guardian could stop it"));
    EXPECT_TRUE(told("The instruments were found: MFC A set-point 0 g/min (at rest)"));
    EXPECT_TRUE(UnendedRunsOn({mark.PortA}).empty()) << "told once";
    EXPECT_TRUE(f.CheckBoxMFC.Checked());
}

// The gas switch and the Debug page's pump tools speak to the instruments while the window goes
// on being served: disabled, with the busy cursor and a line saying so, and a click meanwhile
// lands nowhere.
TEST_F(AppOnEmulator, GasSwitchAndPumpToolLeaveTheWindowServedAndDisabledUntilTheyEnd) {
    StartOnEmulator();
    TForm1& f = app->Form;
    f.PageControl1.SetActivePageIndex(0);
    QTest::mouseClick(W<QPushButton>(f.ButtonSetupValidate), Qt::LeftButton);
    ASSERT_TRUE(RunUntil([this] { return !SetupWorkRunning(app->Setup()); }, 20000));
    ASSERT_TRUE(f.CheckBoxMFC.Checked());
    ASSERT_TRUE(RunUntil([this] { return !emulator.Pump().Busy; }, 10000));

    emulator.SetDelayMs(Instrument::MfcA, 20);  // a switch that takes its time
    ClickRow(f.ListBox1, 1);
    EXPECT_FALSE(f.Enabled());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(Feedback("Selecting the gas of MFC A..."));
    ClickRow(f.ListBox2, 0);  // goes nowhere: no switch of MFC B follows later
    ASSERT_TRUE(RunUntil([&f] { return f.Enabled(); }, 20000));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(f.ListBox1.ItemIndex(), 1);
    EXPECT_EQ(f.ListBox2.ItemIndex(), -1);
    EXPECT_FALSE(f.CheckBoxGas.Checked());
    EXPECT_TRUE(Feedback("MFC A gas set to  : " + app->Mixer().MFCADetails.LUT[3].NameOwn));
    EXPECT_EQ(app->Mixer().MFCADetails.ActiveLUT, 3u);

    ClickRow(f.ListBox2, 0);
    ASSERT_TRUE(RunUntil([&f] { return f.Enabled(); }, 20000));
    EXPECT_TRUE(f.CheckBoxGas.Checked());
    EXPECT_EQ(app->Mixer().MixerState, TMixerState::msReady);
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().caption, "Confirm selected gases");

    // The Debug page's pump stop, on the validated pump's port.
    emulator.SetDelayMs(Instrument::Pump, 20);
    f.PageControl1.SetActivePageIndex(2);
    const int before = f.MemoDebugCOM.Count();
    f.Button2.Click();
    EXPECT_FALSE(f.Enabled());
    ASSERT_EQ(f.MemoDebugCOM.Count(), before + 1);
    EXPECT_EQ(f.MemoDebugCOM.Line(before), "Waiting for the pump on " + emulator.PortPath(Instrument::Pump) + "...");
    ASSERT_TRUE(RunUntil([&f] { return f.Enabled(); }, 20000));
    EXPECT_EQ(f.MemoDebugCOM.Line(f.MemoDebugCOM.Count() - 1), "Stopped");
}

// The operator's path to a run: validated, one segment of A, B and no fluid, started.
void AppOnEmulator::StartShortProgram() {
    ValidateAndChooseGases();
    ASSERT_EQ(app->Mixer().MixerState, TMixerState::msReady);
    TForm1& f = app->Form;
    f.PageControl1.SetActivePageIndex(3);
    Paste(f.RtIntegerEditY1Flow, "10000");
    Paste(f.RtIntegerEditY2Flow, "20000");
    Paste(f.RtDoubleEditStepDuration, "0.01");
    EXPECT_EQ(f.RtIntegerEditY2Flow.Value(), 20000);
    QTest::mouseClick(W<QPushButton>(f.ButtonAddStep), Qt::LeftButton);
    ASSERT_EQ(f.RzTabbedListBoxSteps.Count(), 1);

    QTest::mouseClick(W<QPushButton>(f.ButtonApply), Qt::LeftButton);
    EXPECT_EQ(app->Mixer().MixerState, TMixerState::msOperating);
    // Pages 0 to 2 ignore input during the run, and the window cannot be closed.
    EXPECT_FALSE(f.PageControl1.PageEnabled(0));
    EXPECT_FALSE(app->Window().close());
    ASSERT_TRUE(RunUntil([&] { return emulator.Mfc(Instrument::MfcB).SetPoint > 0 &&
                                      f.RtDoubleVectorTime.Count() >= 3; }, 30000))
        << "run log:\n" << f.MemoLog.Text() << "points " << f.RtDoubleVectorTime.Count()
        << " state " << static_cast<int>(app->Mixer().MixerState);
}

TEST_F(AppOnEmulator, ShortProgramStartedAndStoppedFromTheButtonsEndsReadyWithNoFlow) {
    StartOnEmulator();
    ASSERT_NO_FATAL_FAILURE(StartShortProgram());
    TForm1& f = app->Form;
    QTest::mouseClick(W<QPushButton>(f.ButtonStop), Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return app->Mixer().MixerState == TMixerState::msReady &&
                                      !WorkerRunning(app->Run()); }, 60000))
        << static_cast<int>(app->Mixer().MixerState);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0);
    EXPECT_FALSE(emulator.Pump().Busy);
    EXPECT_TRUE(RunUntil([&] { return f.PageControl1.PageEnabled(0); }, 2000));
    // The graph got the run's readings; hidden until now, it draws them when shown.
    f.PageControl1.SetActivePageIndex(4);
    QTest::qWait(50);
    EXPECT_EQ(app->Window().Flows()->Graph()->RtLineSeriesA()->dataCount(), f.RtDoubleVectorTime.Count());
    EXPECT_GT(app->Window().Flows()->Graph()->RtLineSeriesA()->dataCount(), 0);
}

// SIGTERM during a run (a logout, `kill`): the stop procedure runs in full before the window
// closes, so no gas is left flowing.
TEST_F(AppOnEmulator, SignalDuringARunStopsEveryFlowBeforeTheWindowCloses) {
    StartOnEmulator();
    ui::TStopOnSignal stopOnSignal(*app, {SIGTERM});
    ASSERT_NO_FATAL_FAILURE(StartShortProgram());
    std::raise(SIGTERM);
    std::raise(SIGTERM);  // a second one does not cut the stop short
    ASSERT_TRUE(RunUntil([&] { return !app->Window().isVisible(); }, 60000))
        << static_cast<int>(app->Mixer().MixerState) << "\n" << app->Form.MemoLog.Text();
    EXPECT_EQ(app->Mixer().MixerState, TMixerState::msReady);
    EXPECT_FALSE(WorkerRunning(app->Run()));
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0);
    EXPECT_FALSE(emulator.Pump().Busy);
    EXPECT_NE(app->Form.MemoLog.Text().find("SIGTERM received: stop and close"), std::string::npos);
}

// Outside a run a signal closes the window at once, with no message box for nobody to answer.
TEST_F(AppTest, SignalOutsideARunClosesTheWindowWithoutAMessage) {
    Start();
    ui::TStopOnSignal stopOnSignal(*app, {SIGHUP});
    std::raise(SIGHUP);
    EXPECT_TRUE(RunUntil([&] { return !app->Window().isVisible(); }, 5000));
    EXPECT_TRUE(dialogs.shown.empty());
}

}  // namespace
}  // namespace moirex::testing_ui

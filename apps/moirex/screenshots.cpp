// moirex-screenshots DIR: pictures of every page of the window for the README, made under Xvfb by
// scripts/screenshots.sh. The window runs on the emulator, set up and running a short program, so
// that the pages show what an operator sees.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QThread>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "form/Dialogs.h"
#include "sim/Emulator.h"
#include "support/Clock.h"
#include "support/FileLocations.h"
#include "support/Log.h"
#include "ui/Application.h"

namespace {

// Runs the event loop until done() or the time is up.
bool Wait(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: moirex-screenshots DIR\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    moirex::ui::NameApplication();
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    moirex::SetHomeFolder((dir + "/home").toStdString());

    moirex::sim::EmulatorOptions simOptions;
    simOptions.RuntimeFolder = (dir + "/ports").toStdString();
    simOptions.Paced = false;  // the pictures need no line timing
    moirex::sim::Emulator sim(simOptions);
    using moirex::sim::Instrument;

    moirex::ScriptedDialogs dialogs;
    dialogs.defaultAnswer = true;  // the gas-line question
    moirex::ManualClock instrumentClock;
    moirex::ui::TAppOptions options;
    options.ScriptedDialogs = &dialogs;
    options.PumpPort = sim.PortPath(Instrument::Pump);
    options.MFCAPort = sim.PortPath(Instrument::MfcA);
    options.MFCBPort = sim.PortPath(Instrument::MfcB);
    options.Tune = [&](moirex::TSetupContext& setup) {
        setup.Instruments.Clk = &instrumentClock;  // no stand-by waits of the pump
        setup.ListPorts = [&] {
            return std::vector<std::string>{options.MFCAPort, options.MFCBPort, options.PumpPort};
        };
    };
    moirex::InitLogChannels();
    moirex::ui::TMoirexApp moirex(options);
    moirex::TForm1& form = moirex.Form;
    moirex.Window().show();
    Wait([] { return false; }, 500);

    // The operator's path: Validate, a gas for each controller, two segments, Start.
    form.ButtonSetupValidate.Click();
    Wait([&] { return !sim.Pump().Busy; }, 20000);
    for (moirex::TListBox* list : {&form.ListBox1, &form.ListBox2}) {
        list->SetItemIndex(list == &form.ListBox1 ? 1 : 0);
        list->Click();
    }
    // Pages 0 to 2 take no input during a run and show it greyed: they are taken before Start.
    const char* names[] = {"setup", "pump-and-fluid", "debug", "design", "flows", "log", "pump-info"};
    int failures = 0;
    auto grab = [&](int i) {
        form.PageControl1.SetActivePageIndex(i);
        Wait([] { return false; }, 300);
        const QString file = QString("%1/page-%2-%3.png").arg(dir).arg(i).arg(names[i]);
        if (!moirex.Window().grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            ++failures;
        } else {
            std::printf("%s\n", qPrintable(file));
        }
    };
    for (int i = 0; i < 3; ++i) grab(i);

    form.PageControl1.SetActivePageIndex(3);
    auto type = [](auto& field, double value) {
        field.SetFocused(true);
        field.SetValue(static_cast<decltype(field.Value())>(value));
        field.KeyUp();
        field.SetFocused(false);
    };
    type(form.RtIntegerEditY1Flow, 10000);
    type(form.RtIntegerEditY2Flow, 20000);
    type(form.RtDoubleEditFluidFlow, 300);
    type(form.RtDoubleEditStepDuration, 0.5);
    form.EditStepComments.SetText("humid");
    form.ButtonAddStep.Click();
    type(form.RtIntegerEditY1Flow, 20000);
    type(form.RtDoubleEditFluidFlow, 0);
    form.EditStepComments.SetText("dry");
    form.ButtonAddStep.Click();
    form.ButtonApply.Click();
    Wait([&] { return form.RtDoubleVectorTime.Count() >= 120; }, 90000);
    for (int i = 3; i < 7; ++i) grab(i);

    form.ButtonStop.Click();
    Wait([&] { return moirex.Mixer().MixerState == moirex::TMixerState::msReady; }, 60000);
    Wait([] { return false; }, 500);
    return failures ? 1 : 0;
}

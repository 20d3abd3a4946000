// The window's costs, on Qt's offscreen platform:
//   replot   the flow graph's redraw with 1000 and 10 000 points per series (median, worst);
//   idle     the CPU share of one core taken by the idle window in simulation, with the scrolling
//            display running on the page that shows it (--idle-seconds, default 30);
//   stall    the longest time the event loop was blocked during a run on the paced emulator, and
//            what blocked it (--run-seconds, default 60).
// Usage: bench_window [--idle-seconds N] [--run-seconds N] [--skip-run]

#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/RunController.h"
#include "core/SetupPage.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "sim/Emulator.h"
#include "support/FileLocations.h"
#include "support/Log.h"
#include "ui/Application.h"
#include "ui/FlowGraph.h"

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void Replot(int points) {
    moirex::TForm1 form;
    moirex::ui::TFlowGraphView view(form.RtDoubleVectorTime, form.RtDoubleVector2GasAReal,
                                    form.RtDoubleVectorGasBReal, form.RtDoubleVectorGasAAvg);
    view.resize(1126, 640);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) std::fputs("window not exposed\n", stderr);
    const double start = 46000.0;
    for (int i = 0; i < points; ++i) {
        const double t = start + i * 0.2 / 86400.0;  // a reading every 200 ms
        form.RtDoubleVectorTime.Add(t);
        form.RtDoubleVector2GasAReal.Add(0.01 + 0.002 * std::sin(i * 0.05) + (i % 7) * 1e-4);
        form.RtDoubleVectorGasBReal.Add(0.05 + 0.001 * std::cos(i * 0.03));
        form.RtDoubleVectorGasAAvg.Add(0.01);
    }
    QApplication::processEvents();
    std::vector<double> ms;
    for (int r = 0; r < 100; ++r) {
        // Each replot follows a new reading, as during a run: the vectors are copied again.
        form.RtDoubleVectorTime.Add(start + (points + r) * 0.2 / 86400.0);
        form.RtDoubleVector2GasAReal.Add(0.01);
        form.RtDoubleVectorGasBReal.Add(0.05);
        form.RtDoubleVectorGasAAvg.Add(0.01);
        QElapsedTimer t;
        t.start();
        view.Graph()->replot();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("replot %6d points per series: median %.2f ms, worst %.2f ms (100 replots, 1126 x 640)\n",
                points, Median(ms), *std::max_element(ms.begin(), ms.end()));
}

void Idle(int seconds) {
    moirex::ScriptedDialogs dialogs;
    moirex::ui::TAppOptions options;
    options.ScriptedDialogs = &dialogs;
    moirex::ui::TMoirexApp app(options);
    app.Window().show();
    if (!QTest::qWaitForWindowExposed(&app.Window())) std::fputs("window not exposed\n", stderr);
    app.Form.PageControl1.SetActivePageIndex(3);
    app.Form.RzLEDDisplay1.SetCaption("Simulation mode: instruments not validated");
    QTest::qWait(500);
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    const double cpu = CpuSeconds() - cpu0;
    const double elapsed = wall.nsecsElapsed() / 1e9;
    std::printf("idle window in simulation, display scrolling: %.2f %% of one core over %.0f s\n",
                100.0 * cpu / elapsed, elapsed);
}

// Times every event the loop hands out: the longest one is the longest the loop was blocked.
class TTimedApplication final : public QApplication {
public:
    using QApplication::QApplication;
    struct TStall {
        double Ms = 0;
        QString What;
    };
    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_ > 0 || !timing) return QApplication::notify(receiver, event);
        ++depth_;
        QElapsedTimer t;
        t.start();
        const int type = event->type();
        const QString before = context ? context() : QString();
        const bool result = QApplication::notify(receiver, event);
        const double ms = t.nsecsElapsed() / 1e6;
        --depth_;
        if (ms > 1.0) {
            stalls.push_back({ms, QString("event %1 to %2 (%3), %4")
                                      .arg(type)
                                      .arg(receiver->objectName().isEmpty() ? "unnamed" : receiver->objectName())
                                      .arg(receiver->metaObject()->className())
                                      .arg(before)});
        }
        ++events;
        return result;
    }
    bool timing = false;
    std::function<QString()> context;  // what the mixer was doing when the event came
    std::vector<TStall> stalls;
    long events = 0;

private:
    int depth_ = 0;
};

void Stall(TTimedApplication& qapp, int seconds) {
    const QString dir = QDir::tempPath() + "/moirex-bench-window-" + QString::number(QCoreApplication::applicationPid());
    moirex::SetHomeFolder((dir + "/home").toStdString());
    moirex::sim::EmulatorOptions simOptions;
    simOptions.RuntimeFolder = (dir + "/ports").toStdString();  // paced, as the real line is
    moirex::sim::Emulator sim(simOptions);
    using moirex::sim::Instrument;
    moirex::ScriptedDialogs dialogs;
    dialogs.defaultAnswer = true;
    moirex::ui::TAppOptions options;
    options.ScriptedDialogs = &dialogs;
    options.PumpPort = sim.PortPath(Instrument::Pump);
    options.MFCAPort = sim.PortPath(Instrument::MfcA);
    options.MFCBPort = sim.PortPath(Instrument::MfcB);
    options.Tune = [&](moirex::TSetupContext& setup) {
        setup.ListPorts = [&] {
            return std::vector<std::string>{options.MFCAPort, options.MFCBPort, options.PumpPort};
        };
    };
    moirex::ui::TMoirexApp app(options);
    moirex::TForm1& f = app.Form;
    app.Window().show();
    if (!QTest::qWaitForWindowExposed(&app.Window())) std::fputs("window not exposed\n", stderr);

    // The longest event of the loop while `work` runs and until `done`.
    auto longestStall = [&](const std::function<void()>& work, const std::function<bool()>& done, double& clickMs) {
        qapp.stalls.clear();
        qapp.timing = true;
        QElapsedTimer t;
        t.start();
        work();
        clickMs = t.nsecsElapsed() / 1e6;
        while (!done() && t.elapsed() < 120000) QTest::qWait(5);
        qapp.timing = false;
        double worst = clickMs;
        for (const auto& st : qapp.stalls) worst = std::max(worst, st.Ms);
        qapp.stalls.clear();
        return std::make_pair(worst, t.elapsed());
    };
    double validateMs = 0;
    const auto validate = longestStall([&] { f.ButtonSetupValidate.Click(); },
                                       [&] { return !moirex::SetupWorkRunning(app.Setup()); }, validateMs);
    double gasMs[2] = {0, 0};
    std::pair<double, qint64> gas[2];
    for (int i = 0; i < 2; ++i) {
        moirex::TListBox* list = i == 0 ? &f.ListBox1 : &f.ListBox2;
        gas[i] = longestStall(
            [&] {
                list->SetItemIndex(i == 0 ? 1 : 0);
                list->Click();
            },
            [&] { return f.Enabled(); }, gasMs[i]);
    }
    double applyMs = 0;
    const auto apply = longestStall([&] { f.ButtonApplyPumpAndFluid.Click(); }, [&] { return f.Enabled(); }, applyMs);
    double pumpToolMs = 0;
    const auto pumpTool = longestStall([&] { f.Button2.Click(); }, [&] { return f.Enabled(); }, pumpToolMs);
    if (app.Mixer().MixerState != moirex::TMixerState::msReady) {
        std::printf("stall: the instruments were not set up; no run. The Setup page said:\n%s\n",
                    f.MemoSetupFeedback.Text().c_str());
        for (const auto& d : dialogs.shown) std::printf("box: %s\n", d.text.c_str());
        return;
    }
    auto type = [](auto& field, double value) {
        field.SetFocused(true);
        field.SetValue(static_cast<decltype(field.Value())>(value));
        field.KeyUp();
        field.SetFocused(false);
    };
    type(f.RtIntegerEditY1Flow, 10000);
    type(f.RtIntegerEditY2Flow, 20000);
    type(f.RtDoubleEditFluidFlow, 300);
    type(f.RtDoubleEditStepDuration, seconds / 3600.0);
    f.ButtonAddStep.Click();
    f.PageControl1.SetActivePageIndex(4);  // the graph redraws during the run

    qapp.context = [&] {
        static const char* states[] = {"msSimulation", "msReady", "msOperating", "msStopping", "?", "?", "msStopFailed"};
        std::string last = f.MemoLog.Count() ? f.MemoLog.Line(f.MemoLog.Count() - 1) : std::string();
        last = last.substr(0, last.find_first_of("\r\n"));
        return QString("%1, last run log line \"%2\"")
            .arg(states[static_cast<int>(app.Mixer().MixerState)])
            .arg(QString::fromStdString(last));
    };
    qapp.timing = true;
    QElapsedTimer run;
    run.start();
    f.ButtonApply.Click();
    while (!(app.Mixer().MixerState == moirex::TMixerState::msReady && !moirex::WorkerRunning(app.Run())) &&
           run.elapsed() < (seconds + 90) * 1000)
        QTest::qWait(10);
    qapp.timing = false;
    std::sort(qapp.stalls.begin(), qapp.stalls.end(), [](auto& a, auto& b) { return a.Ms > b.Ms; });
    std::printf("run of %d s on the paced emulator (ended %s after %.0f s, %ld events, %d readings):\n", seconds,
                app.Mixer().MixerState == moirex::TMixerState::msReady ? "ready" : "NOT ready",
                run.elapsed() / 1000.0, qapp.events, f.RtDoubleVectorTime.Count() + 0);
    std::printf("  Validate (before the run): the click took %.0f ms, the longest stall of the loop until it ended %.0f ms (%.1f s in all)\n",
                validateMs, validate.first, validate.second / 1000.0);
    for (int i = 0; i < 2; ++i)
        std::printf("  gas of MFC %c chosen: the click took %.0f ms, the longest stall until it ended %.0f ms (%.1f s in all)\n",
                    i == 0 ? 'A' : 'B', gasMs[i], gas[i].first, gas[i].second / 1000.0);
    std::printf("  \"Apply and save\" (pump found): the click took %.0f ms, the longest stall until it ended %.0f ms (%.1f s in all)\n",
                applyMs, apply.first, apply.second / 1000.0);
    std::printf("  Debug page, pump stop: the click took %.0f ms, the longest stall until it ended %.0f ms (%.1f s in all)\n",
                pumpToolMs, pumpTool.first, pumpTool.second / 1000.0);
    double runWorst = 0, stopWorst = 0;
    for (const auto& st : qapp.stalls) {
        if (st.What.contains("msOperating")) runWorst = std::max(runWorst, st.Ms);
        else stopWorst = std::max(stopWorst, st.Ms);
    }
    std::printf("  longest stall while operating %.1f ms, while stopping and after %.1f ms\n", runWorst, stopWorst);
    const size_t top = std::min<size_t>(5, qapp.stalls.size());
    for (size_t i = 0; i < top; ++i)
        std::printf("  longest stalls #%zu: %.1f ms, %s\n", i + 1, qapp.stalls[i].Ms, qPrintable(qapp.stalls[i].What));
    QDir(dir).removeRecursively();
}

}  // namespace

int main(int argc, char** argv) {
    int idleSeconds = 30;
    int runSeconds = 60;
    bool run = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--idle-seconds") && i + 1 < argc) idleSeconds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--run-seconds") && i + 1 < argc) runSeconds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--skip-run")) run = false;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TTimedApplication qapp(argc, argv);
    moirex::InitLogChannels();
    Replot(1000);
    Replot(10000);
    Idle(idleSeconds);
    if (run) Stall(qapp, runSeconds);
    return 0;
}

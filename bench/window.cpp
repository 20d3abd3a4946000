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
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/RunController.h"
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
    QApplication qapp(argc, argv);
    moirex::InitLogChannels();
    Replot(1000);
    Replot(10000);
    Idle(idleSeconds);
    (void)run;
    (void)runSeconds;
    return 0;
}

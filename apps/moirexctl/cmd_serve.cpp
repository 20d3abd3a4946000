// moirexctl serve: a headless mixer with a SEC node. It starts as the window starts, brings the
// instruments up as moirexctl run does, then serves SECoP clients until a stop signal: load,
// start and stop from the clients go through the handlers of the window's buttons, on this
// tool's main thread, between its 50 ms ticks.

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "BringUp.h"
#include "Command.h"
#include "HeadlessWindow.h"
#include "RunSession.h"
#include "StopSignals.h"
#include "core/RunController.h"
#include "form/Form.h"
#include "remote/DialogCapture.h"
#include "remote/MixerNode.h"
#include "support/Clock.h"

namespace moirexctl {
namespace {

bool Idle(const moirex::TRunContext& run) {
    const auto s = run.Mixer.MixerState;
    return !moirex::WorkerRunning(run) &&
           (s == moirex::TMixerState::msReady || s == moirex::TMixerState::msSimulation ||
            s == moirex::TMixerState::msStopFailed);
}

int RunServe(const std::vector<std::string>& argv) {
    std::vector<OptionSpec> options = BringUpOptions;
    options.insert(options.end(), {{"--secop"}, {"--allow-remote-control", false}, {"--stop-retry-s"}});
    const Args args(argv, options);
    args.ExpectPositionals(0, 0);
    CheckBringUpOptions(args);
    moirex::secop::TAddress address;
    std::string error;
    if (!moirex::secop::ParseAddress(args.Text("--secop", "127.0.0.1:10767"), address, error))
        throw UsageError("--secop: " + error);
    const double stopRetry = args.Real("--stop-retry-s", 60);
    if (!(stopRetry >= 0) || stopRetry > 86400)
        throw UsageError("--stop-retry-s: seconds from 0 to 86400: " + *args.Value("--stop-retry-s"));

    InstallStopSignals();
    std::optional<bool> answer;
    if (args.Flag("--yes")) answer = true;
    HeadlessWindow window(answer);
    auto interrupted = [] {
        if (StopSignalCount() == 0) return false;
        std::cerr << "moirexctl serve: stopped before serving; no flow was started" << std::endl;
        return true;
    };
    if (const int status = BringUpInstruments(args, window, "serve", interrupted); status != ExitOk) return status;

    moirex::TRunContext& run = window.run;
    moirex::TMixer& mixer = window.mixer;
    mixer.TickReady = true;
    // Each run started over SECoP has its guardian, as moirexctl run's has.
    run.StartGuardian = true;
    run.Holder = "moirexctl serve";
    run.GuardianStopRetrySeconds = stopRetry;
    run.OnLogLine = [&](const moirex::TMemo& memo, const std::string& line) {
        PrintEntry(&memo == &window.form.MemoLog ? "log: " : "setup: ", line);
    };
    moirex::TScriptedCapture capture(window.dialogs);
    moirex::TMixerNode node(run, capture);
    node.AllowRemoteControl = args.Flag("--allow-remote-control");
    node.RemoteControlRefusal = "Remote control is not allowed: moirexctl serve allows it with --allow-remote-control.";
    if (!node.Start(address, error)) {
        std::cerr << "moirexctl serve: " << error << std::endl;
        return ExitFailed;
    }
    std::cout << "Serving SECoP on " << address.Text() << " (port " << node.Port() << "); remote control "
              << (node.AllowRemoteControl ? "allowed: clients may load and start programs"
                                          : "not allowed: clients may read and stop")
              << ". Ctrl-C or SIGTERM ends it, a running program stopped first." << std::endl;

    moirex::Clock& clock = moirex::SystemClock();
    std::string shownDisplay;
    int signalsSeen = 0;
    bool ending = false;
    double failedSince = -1, lastRetry = 0;
    double nextTick = clock.MonotonicSeconds();
    while (true) {
        window.handOver.processPending();
        const int signals = StopSignalCount();
        if (signals > signalsSeen) {
            signalsSeen = signals;
            if (!ending) {
                ending = true;
                if (!Idle(run)) {
                    std::cout << "Stop requested: the stop procedure runs; every flow is stopped before moirexctl ends"
                              << std::endl;
                    moirex::ButtonStopClick(run);
                }
            } else {
                std::cout << "Stop already under way: waiting for the stop procedure to confirm every flow stopped"
                          << std::endl;
            }
        }
        moirex::Timer1Timer(run);
        node.Poll();
        if (window.form.RzLEDDisplay1.Caption() != shownDisplay) {
            shownDisplay = window.form.RzLEDDisplay1.Caption();
            if (mixer.MixerState != moirex::TMixerState::msOperating) std::cout << "display: " << shownDisplay << std::endl;
        }

        if (mixer.MixerState == moirex::TMixerState::msStopFailed && !moirex::WorkerRunning(run)) {
            const double now = clock.MonotonicSeconds();
            if (failedSince < 0) failedSince = lastRetry = now;
            if (ending && now - failedSince >= stopRetry) {
                std::cerr << moirex::CouldNotStopFlow << std::endl;
                node.Stop();
                return RunSession::ExitStopFailed;
            }
            if (now - lastRetry >= 5) {
                lastRetry = now;
                std::cout << "Repeating the stop procedure" << std::endl;
                moirex::ButtonStopClick(run);
            }
        } else {
            failedSince = -1;
        }
        if (ending && Idle(run) && mixer.MixerState != moirex::TMixerState::msStopFailed) {
            node.Stop();
            std::cout << "Node closed: every flow stopped." << std::endl;
            const int signal = FirstStopSignal();
            return signal > 0 ? 128 + signal : ExitOk;
        }

        nextTick += 0.050;
        double now = clock.MonotonicSeconds();
        if (nextTick < now - 0.5) nextTick = now;
        while (now < nextTick) {
            if (window.handOver.WaitForPending(static_cast<int64_t>((nextTick - now) * 1000) + 1))
                window.handOver.processPending();
            now = clock.MonotonicSeconds();
        }
    }
}

const CommandRegistrar registrar({
    "serve",
    "a headless mixer with a SECoP node: experiment controls read, load, start and stop it",
    "Usage: moirexctl serve [--pump PORT --mfc-a PORT --mfc-b PORT] --gas-a GAS --gas-b GAS\n"
    "                       [--secop ADDRESS:PORT] [--allow-remote-control] [--yes]\n"
    "                       [--syringe-ul 12.5] [--stop-retry-s 60]\n"
    "\n"
    "Starts as the window starts (its configuration file and logging), brings the instruments up\n"
    "as moirexctl run does (pump check, MFC A at address 1 and MFC B at address 2, each switched to\n"
    "its gas, the gas-line question), then serves SECoP 1.0 over TCP until SIGINT, SIGTERM or\n"
    "SIGHUP; a running program is stopped first, every flow confirmed stopped. The modules are\n"
    "mixer, gas_a, gas_b, fluid, program and outlet (see the README). Clients may always read and\n"
    "stop; they may load and start programs only with --allow-remote-control.\n"
    "\n"
    "  --secop ADDRESS:PORT    where to listen (default 127.0.0.1:10767, loopback only; give\n"
    "                          another address, such as 0.0.0.0:10767, to serve the network)\n"
    "  --allow-remote-control  clients may load and start programs\n"
    "  --pump, --mfc-a, --mfc-b, --gas-a, --gas-b, --yes, --syringe-ul: as for moirexctl run\n"
    "  --stop-retry-s S        how long a stop that could not be confirmed is repeated (every 5 s)\n"
    "                          at the end before moirexctl gives up with status 4 (default 60)\n"
    "\n"
    "Exit status: 128 + the signal's number (130 for Ctrl-C, 143 for SIGTERM) after a stop on a\n"
    "signal, every flow confirmed stopped; 1 when the instruments could not be brought up or the\n"
    "address cannot be listened on; 2 on bad arguments; 4 when the flows could not be confirmed\n"
    "stopped (power the mixer off by hand).\n",
    RunServe,
});

}  // namespace
}  // namespace moirexctl

#include "RunSession.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "core/MainThreadHandOver.h"
#include "core/RunController.h"
#include "core/StopRetry.h"
#include "devices/PortClaim.h"
#include "core/RunStateForClaim.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "support/Clock.h"
#include "support/DateTime.h"
#include "support/TextFormat.h"

namespace moirexctl {
namespace {

size_t ShownCount(const moirex::Dialogs& dialogs) {
    const auto* scripted = dynamic_cast<const moirex::ScriptedDialogs*>(&dialogs);
    return scripted ? scripted->shown.size() : 0;
}

void PrintShownSince(const moirex::Dialogs& dialogs, size_t from) {
    const auto* scripted = dynamic_cast<const moirex::ScriptedDialogs*>(&dialogs);
    if (!scripted) return;
    for (size_t i = from; i < scripted->shown.size(); ++i) std::cout << "message: " << scripted->shown[i].text << std::endl;
}

}  // namespace

// A run-log entry may hold several lines (the worker's messages end in CR LF): one printed line
// each, blank ones left out.
void PrintEntry(const char* prefix, const std::string& entry) {
    size_t start = 0;
    while (start <= entry.size()) {
        size_t end = entry.find_first_of("\r\n", start);
        if (end == std::string::npos) end = entry.size();
        if (end > start) std::cout << prefix << entry.substr(start, end - start) << "\n";
        start = end + 1;
    }
    std::cout << std::flush;
}

RunSession::RunSession(moirex::TMixer& mixer, std::string dataPath, std::function<int()> stopSignals,
                       std::function<int()> firstStopSignal)
    : mixer_(mixer),
      dataPath_(std::move(dataPath)),
      stopSignals_(std::move(stopSignals)),
      firstStopSignal_(std::move(firstStopSignal)) {}

int RunSession::Run() {
    moirex::TForm1& form = mixer_.Form;
    moirex::Clock& clock = moirex::SystemClock();
    moirex::TQueuedHandOver handOver;
    moirex::TRunContext run(mixer_, handOver, clock);

    // The last "Could not stop flow!" block, for the final report on standard error.
    std::vector<std::string> stopFailure;
    bool collectingFailure = false;
    run.OnLogLine = [&](const moirex::TMemo& memo, const std::string& line) {
        PrintEntry(&memo == &form.MemoLog ? "log: " : "setup: ", line);
        if (line.find("Could not stop flow!") != std::string::npos) {
            stopFailure.clear();
            collectingFailure = true;
        }
        if (collectingFailure) {
            stopFailure.push_back(line);
            if (line.find("  Fluid stopped: ") != std::string::npos) collectingFailure = false;
        }
    };

    // One row per hand-over, written by the run controller as for the window's runs.
    run.DataFilePath = dataPath_;
    // A guardian stops the instruments should this process die or freeze during the run.
    run.StartGuardian = true;
    run.Holder = "moirexctl run";
    run.GuardianStopRetrySeconds = StopRetryLimitSeconds;

    mixer_.TickReady = true;
    const size_t shownBefore = ShownCount(mixer_.Dlg);
    moirex::ButtonApplyClick(run);
    PrintShownSince(mixer_.Dlg, shownBefore);
    if (mixer_.MixerState != moirex::TMixerState::msOperating) {
        std::cerr << "moirexctl run: the run did not start" << std::endl;
        return ExitFailed;
    }
    if (run.DataFile.IsOpen() && !run.DataFile.Failed()) std::cout << "Run data file: " << run.DataFile.Path() << std::endl;

    std::string shownDisplay, shownStatus;
    double lastShown = -1e9;
    auto show = [&](bool force) {
        const double now = clock.MonotonicSeconds();
        if (!force && now - lastShown < 1.0) return;
        const std::string display = form.RzLEDDisplay1.Caption();
        const std::string status = moirex::StatusBarText(mixer_);
        bool printed = false;
        if (display != shownDisplay) {
            std::cout << "display: " << display << std::endl;
            shownDisplay = display;
            printed = true;
        }
        if (status != shownStatus) {
            std::cout << "status: " << status << std::endl;
            shownStatus = status;
            printed = true;
        }
        if (printed) lastShown = now;
    };

    int signalsSeen = 0;
    moirex::TStopRetry retry{StopRetryPeriodSeconds, StopRetryLimitSeconds};
    double nextTick = clock.MonotonicSeconds();
    while (true) {
        handOver.processPending();

        const int signals = stopSignals_();
        if (signals > signalsSeen) {
            if (signalsSeen == 0) {
                std::cout << "Stop requested: the stop procedure runs; every flow is stopped before moirexctl ends"
                          << std::endl;
                if (mixer_.MixerState == moirex::TMixerState::msOperating) {
                    const size_t before = ShownCount(mixer_.Dlg);
                    moirex::ButtonStopClick(run);
                    PrintShownSince(mixer_.Dlg, before);
                }
            } else {
                std::cout << "Stop already under way: waiting for the stop procedure to confirm every flow stopped"
                          << std::endl;
            }
            signalsSeen = signals;
        }

        moirex::Timer1Timer(run);
        show(false);

        const bool workerGone = !moirex::WorkerRunning(run);
        if (workerGone && mixer_.MixerState == moirex::TMixerState::msReady) {
            show(true);
            std::cout << "Run ended: every flow stopped." << std::endl;
            int status = 0;
            switch (run.StopCause) {
                case moirex::TStopCause::scOutage:
                    std::cerr << "moirexctl run: stopped by the outage limit before the program's end" << std::endl;
                    status = ExitOutageStop;
                    break;
                case moirex::TStopCause::scIdentity:
                    std::cerr << "moirexctl run: stopped before the program's end: an instrument is not the one validated"
                              << std::endl;
                    status = ExitFailed;
                    break;
                case moirex::TStopCause::scGuardian:
                    std::cerr << "moirexctl run: this process froze; its guardian stopped the instruments: "
                              << run.Guardian.Account() << std::endl;
                    status = ExitGuardianStop;
                    break;
                case moirex::TStopCause::scStopButton: {
                    const int signal = firstStopSignal_();
                    std::cerr << "moirexctl run: stopped on a signal before the program's end" << std::endl;
                    status = signal > 0 ? 128 + signal : ExitFailed;
                    break;
                }
                case moirex::TStopCause::scProgramEnd:
                case moirex::TStopCause::scNone:
                    break;
            }
            run.DataFile.Close();
            if (run.DataFile.Failed() && status != ExitFailed) {
                std::cerr << "moirexctl run: " << run.DataFile.FailureText() << std::endl;
                return ExitDataLost;
            }
            return status;
        }
        if (workerGone && mixer_.MixerState == moirex::TMixerState::msStopFailed &&
            run.StopCause == moirex::TStopCause::scGuardian) {
            // The guardian has repeated its stop for as long as this process would have.
            show(true);
            std::cerr << "moirexctl run: this process froze; its guardian could not confirm every stop: "
                      << run.Guardian.Account() << std::endl;
            std::cerr << moirex::CouldNotStopFlow << std::endl;
            return ExitStopFailed;
        }
        if (workerGone && mixer_.MixerState == moirex::TMixerState::msStopFailed) {
            const double now = clock.MonotonicSeconds();
            if (!retry.Failing()) {
                retry.Failed(now);
                std::cout << "The stop could not be confirmed: the stop procedure is repeated every "
                          << moirex::ShortestText(retry.PeriodSeconds) << " s for " << moirex::ShortestText(retry.LimitSeconds) << " s"
                          << std::endl;
            }
            switch (retry.Next(now)) {
                case moirex::TStopRetry::TStep::srGiveUp:
                    // Told here: the guardian has nothing to add to a stop procedure that ended.
                    moirex::EndRunGuardian(run);
                    show(true);
                    for (const std::string& line : stopFailure) std::cerr << line << std::endl;
                    std::cerr << moirex::CouldNotStopFlow << std::endl;
                    return ExitStopFailed;
                case moirex::TStopRetry::TStep::srRepeat:
                    std::cout << "Repeating the stop procedure" << std::endl;
                    moirex::ButtonStopClick(run);
                    break;
                case moirex::TStopRetry::TStep::srWait:
                    break;
            }
        }

        // The next tick 50 ms after this one; hand-overs that arrive meanwhile are served at once,
        // so the worker never waits for a tick, and a signal is looked at every few milliseconds:
        // its Stop and the tick that begins the stop procedure follow at once.
        nextTick += 0.050;
        double now = clock.MonotonicSeconds();
        if (nextTick < now - 0.5) nextTick = now;  // no burst of ticks after a pause of the process
        while (now < nextTick && stopSignals_() == signalsSeen) {
            const double wait = std::min(nextTick - now, 0.005);
            if (handOver.WaitForPending(static_cast<int64_t>(wait * 1000) + 1)) handOver.processPending();
            now = clock.MonotonicSeconds();
        }
    }
}

}  // namespace moirexctl

#pragma once
// The headless run of moirexctl run: Start, the 50 ms loop that serves the worker's hand-overs and
// ticks the run controller, the printed run log, display and status bar, and the stop on a signal, until the stop procedure has confirmed every flow stopped (or a minute of
// retries has not).

#include <functional>
#include <string>

#include "state/MixerState.h"

namespace moirexctl {

class RunSession {
public:
    // mixer: msReady with the segment program built. dataPath: the --data file, or empty for the
    // run data file beside the recipe file. stopSignals: how many stop signals (SIGINT, SIGTERM,
    // SIGHUP) have arrived so far; firstStopSignal: the number of the first of them (0 while none
    // has).
    RunSession(moirex::TMixer& mixer, std::string dataPath, std::function<int()> stopSignals,
               std::function<int()> firstStopSignal = [] { return 0; });

    // Exit status, every flow confirmed stopped: 0 when the program ran to its end, 128 + the
    // signal's number after a stop on a signal, ExitOutageStop after a stop by the outage limit.
    // 1 when Start was refused; ExitStopFailed when the flows could not be confirmed stopped.
    int Run();

    static constexpr int ExitStopFailed = 4;
    static constexpr int ExitOutageStop = 5;
    // Every flow confirmed stopped, but the run data file could not be written (part of the
    // run's readings is not in it): instead of 0, 5 or 128 + N.
    static constexpr int ExitDataLost = 6;
    // This process froze (or was stopped) for longer than the guard time during the run; its
    // guardian stopped every flow, confirmed, and the run ended on its account.
    static constexpr int ExitGuardianStop = 7;

    // Between repeats of a stop procedure that could not confirm the stop, and how long to go on.
    double StopRetryPeriodSeconds = 5;
    double StopRetryLimitSeconds = 60;

private:
    moirex::TMixer& mixer_;
    std::string dataPath_;
    std::function<int()> stopSignals_;
    std::function<int()> firstStopSignal_;
};

// A run-log entry as moirexctl prints it: one line each behind `prefix`, blank ones left out.
void PrintEntry(const char* prefix, const std::string& entry);

}  // namespace moirexctl

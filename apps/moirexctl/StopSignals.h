#pragma once
// SIGINT, SIGTERM and SIGHUP as the Stop button of a headless mixer (moirexctl run and serve):
// counted, never ending the tool before the stop procedure has run. SIGPIPE is ignored, so that
// output into a closed pipe cannot end it either.

namespace moirexctl {

void InstallStopSignals();
// How many stop signals have arrived, and the number of the first (0 while none has).
int StopSignalCount();
int FirstStopSignal();

}  // namespace moirexctl

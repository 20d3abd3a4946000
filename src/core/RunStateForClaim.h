#pragma once
// What `moirexctl status` shows of this process's run beside the ports it holds: the run's state
// as the operator reads it, the display and the status bar panels, written into the process's
// claim by the tick of every program that runs one (the window, moirexctl run and serve alike).

#include <string>

#include "state/MixerState.h"

namespace moirex {

struct TRunContext;

// The display and the status bar panels, "Operating, step ...; 0.0100 g/min | ... | ...";
// empty outside a run (msSimulation, msReady).
std::string RunStateText(const TMixer& mixer);

// The status bar's panels joined by " | ".
std::string StatusBarText(const TMixer& mixer);

// Called by every tick: the run's state into the claim when it changed, at most once a second
// while the run goes on (every change of the mixer's state at once), so that the tick stays short.
void TellRunStateToClaim(TRunContext& ctx);

}  // namespace moirex

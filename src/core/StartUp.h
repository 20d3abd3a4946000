#pragma once
// Start-up of the window: brings the mixer from its zeroed state into a usable one. Lists the
// ports, loads the configuration, sets logging up, preselects the ports of the last validation,
// applies the simulation values, computes the first set-points, puts every instrument port on
// "SIM", creates the Userdata folder and writes the pump table. It opens no serial port: the
// instruments are first spoken to by "Validate".

#include "core/SetupPage.h"

namespace moirex {

// Runs once per window, on the main thread, before the first event. The log destination it makes
// is kept in ctx.LogDestination. MixerState stays msSimulation.
void FormCreate(TSetupContext& ctx);

}  // namespace moirex

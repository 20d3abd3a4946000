#pragma once
// Binds the handlers of the fluid designer, the flow set-points, the simulation fields and the
// segment editor to the window's controls, so that the window (or a test) raises them by firing
// the controls' events.

#include "state/MixerState.h"

namespace moirex {

// Call once per window, before the first event.
void BindDesignHandlers(TMixer& mixer);

}  // namespace moirex

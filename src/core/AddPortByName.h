#pragma once
// "Add port" of the Setup page: a port that "Find ports" does not list (a pseudo-terminal, the
// ports of an emulator started with its own runtime folder) added by name to the three port lists,
// where it can then be selected like any other. The lists' selections stay as they were.

#include "state/MixerState.h"

namespace moirex {

// The name typed in EditAddPort: a bare name such as "ttyUSB0" means /dev/ttyUSB0. Refused with a
// message when nothing is typed or the name is no file; a port the lists already hold is only
// told. What was done goes to MemoSetupFeedback.
void ButtonAddPortClick(TMixer& mixer);

// Binds the button (and Enter in the field) once per window.
void BindAddPortHandlers(TMixer& mixer);

}  // namespace moirex

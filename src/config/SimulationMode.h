#pragma once
// Simulation: until the instruments are validated and the gases confirmed, the demonstration
// fields of the "Debug && Development" page stand in for the two mass flow controllers, so that
// mixtures and segments can be designed without instruments.

#include "form/Controls.h"
#include "state/MixerState.h"

namespace moirex {

// Fills gas table 2 of both controller records from the demonstration fields and makes it their
// active table, then refreshes the A and B flow controls. Only in msSimulation; otherwise nothing.
void ApplysimulationValues(TMixer& mixer);

// Key released in any of the eight demonstration fields.
void EditY1DemoNameKeyUp(TMixer& mixer);

// The five demonstration gas buttons, told apart by the sender's name. Sets the group caption,
// gas name and gas mass of the button's controller; applies nothing.
void ButtonMFCAAirClick(TMixer& mixer, const TControl& sender);

// Binds the handlers above to the demonstration fields and buttons. Call once per window.
void BindSimulationModeHandlers(TMixer& mixer);

}  // namespace moirex

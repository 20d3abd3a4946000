#pragma once
// The fluid designer of the "Pump && fluid details" page: the operator composes fluid C from up
// to four catalogue substances by mass and states its density; the designer computes moles, mole
// fractions, molar mass, mol/ml and mg per stroke, and applying the design makes it the pump's
// fluid with the syringe quantities per stroke and per step.

#include "form/Controls.h"
#include "state/MixerState.h"

namespace moirex {

// Message shown when the designed fluid has no usable molar mass; nothing is assigned then.
inline constexpr const char* FluidMolarMassError = "Fluid molar mass 0, cannot continue.";

// Fills the four component boxes with the catalogue's long names in TGasItems order, so that an
// item index is the member's ordinal (item 0 is the empty name of gUndefined). No selection.
void FillComponentBoxes(TMixer& mixer);

// Rebuilds DesignedMixture and the component table in Memo2 from the designer's controls, shows
// the fluid's molar mass and runs the density update.
void FluidMixtureCalculation(TMixer& mixer);

// The density update: mol/ml (only while the molar mass is above 0) and mg per stroke of the
// syringe last applied.
void RtDoubleEditDesignedMixtureDensityKeyUp(TMixer& mixer);

// Makes the designed fluid the pump's fluid and derives the syringe quantities. When the designed
// fluid's molar mass is not above 0 it shows FluidMolarMassError, changes nothing and returns
// false; "Apply and save" then goes no further.
bool AssignFluidMixtureToPump(TMixer& mixer);

// "Set to water": the designer holds 1000 g of pure water with the catalogue density of water.
void ButtonRestoreWaterClick(TMixer& mixer);

// A component box changed by the operator: the design is renamed "Designed mixture" and
// recomputed.
void ComboBoxMix1Change(TMixer& mixer);
// A key released in a mass field: the design is recomputed under its name.
void RtDoubleEdit1KeyUp(TMixer& mixer);

// Binds the designer's handlers to the events of its controls. Call once per window.
void BindFluidDesignerHandlers(TMixer& mixer);

}  // namespace moirex

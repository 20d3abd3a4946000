#pragma once
// The wanted flows of the mixture design page: gas A and gas B in µg/min within what their mass
// flow controllers can hold, fluid C in µg/min within what the pump can dispense. Edit field and
// track bar are kept in step, the pump command follows the fluid flow, and the mixture of the
// current set-points (CreateMixture) is shown with its report after every change.

#include "form/Controls.h"
#include "model/MixtureParts.h"
#include "state/MixerState.h"

namespace moirex {

// Whether a controller has an active gas table entry: validated, with a gas table chosen.
bool HasActiveGasTable(const TMFCDetails& details);

// What MFC A, MFC B and the pump dose into the mixture of the current set-points: the active gas
// table entries (in simulation the demonstration gases), the pump's fluid and syringe, the outlet
// conditions.
TGasSource GasSourceA(const TMixer& mixer);
TGasSource GasSourceB(const TMixer& mixer);
TFluidSource FluidSourceOf(const TMixer& mixer);

// Gas A / gas B: the wanted flow held within the controller's range, edit and track bar in step.
// UpdateFromCode: the caller changed the gas or the range, and the flow follows the track bar.
// While the operator types in the flow field (it has the focus) the range rules wait for the
// entry to be finished, and LabelY1Correction / LabelY2Correction say what they will make of it.
void FlowUpdateY1(TMixer& mixer, bool UpdateFromCode);
void FlowUpdateY2(TMixer& mixer, bool UpdateFromCode);
// The entry of the flow is finished (Enter, the field left, the segment added): the range rules
// apply to what was typed.
void FinishFlowEntryY1(TMixer& mixer);
void FinishFlowEntryY2(TMixer& mixer);
void FinishFlowEntries(TMixer& mixer);

// The fluid flow's limits: 0 up to the fastest constant-velocity rate of the pump's syringe and
// fluid.
void SetFluidRange(TMixer& mixer);
// The segment duration as hours and minutes, the fluid flow's limits, the pump command for the
// wanted fluid flow and its achievable rate; then the report.
void FluidFlowUpdate(TMixer& mixer);
// The three track bars placed for the flows in the editors (after a segment is loaded back).
void UpdateTrackbars(TMixer& mixer);

// The mixture record of the current set-points; `mixture` has been reset with Init by the caller.
// Parts present, in the order A, B, C; no parts at all empties Memo1.
void CreateMixture(TMixer& mixer, TGasItem& mixture);

// Memo1 := machine recipe and mixture report of the current set-points (nothing when no part is
// present). The second form also hands back the mixture shown, with the Valid its report left.
void ShowMixture2(TMixer& mixer);
void ShowMixture2(TMixer& mixer, TGasItem& mixture);

// The outlet conditions changed: the water vapour pressure at the outlet temperature is added to
// Memo2, and the report is shown again. Both fields share it.
void RtDoubleEditCustomTempKeyUp(TMixer& mixer);

// Handlers of the flow controls.
void RtIntegerEditY1FlowKeyUp(TMixer& mixer, int key);
void RzTrackBarY1Change(TMixer& mixer);
void RtIntegerEditY2FlowKeyUp(TMixer& mixer, int key);
void RzTrackBarY2Change(TMixer& mixer);
void RtDoubleEditFluidFlowKeyUp(TMixer& mixer);
void RzTrackBarFluidChange(TMixer& mixer);

// Binds the handlers above to the events of their controls. Call once per window.
void BindFlowSetpointHandlers(TMixer& mixer);

}  // namespace moirex

#pragma once
// Design by target on the design page: what the solver works from is read from the controllers,
// the pump and the outlet fields, and its proposal is written into the three flow editors as the
// operator would type it. The dialog and moirexctl design are thin views over these two steps.

#include "model/DesignByTarget.h"
#include "state/MixerState.h"

namespace moirex {

// The active gas table entries of MFC A and MFC B (the demonstration gases in simulation), the
// pump's fluid and syringe, and the outlet conditions.
TDesignSources DesignSourcesOf(const TMixer& mixer);

// The proposal's flows typed into the flow editors of gas A, gas B and fluid C, in that order: each
// editor takes the focus, gets its value and a released key, so the page corrects the flow, moves
// its track bar, chooses the pump command and shows the report in Memo1, as for typed flows. A
// refused result, or editors that take no input (the page is disabled during a run), change
// nothing and give false.
bool ApplyDesign(TMixer& mixer, const TDesignResult& result);

}  // namespace moirex

#pragma once
// The segment program: the ordered list of segments the run executes, each with a duration and
// the flows of gas A, gas B and fluid C. Adding, saving over a selected segment, deleting the
// last one, listing them, and loading a selected one back into the editors.

#include <string>

#include "form/Controls.h"
#include "state/MixerState.h"

namespace moirex {

// Messages of the segment editor, appended to Memo1.
inline constexpr const char* InvalidSegmentMessage =
    "Cannot add invalid mixture. Fluid ppm higher than artificial limit.";
inline constexpr const char* DeleteRefusedMessage =
    "Cannot delete Segment. Either segment program is running, or no segments to delete.";

// "Add or Save Segment": the segment of the editors is appended, or replaces the selected one;
// a segment without parts or over the fluid limit is refused with InvalidSegmentMessage, one that
// no operator means (SegmentChecks.h) with its reason, and one that is unusual is asked about
// first. Returns the refusal told in Memo1, empty when the segment was taken.
std::string AddOrSaveSegment(TMixer& mixer);
void ButtonAddStepClick(TMixer& mixer);
// "Delete last Segment": refused while a program runs or when there is nothing to delete.
void ButtonSegmentDeleteClick(TMixer& mixer);

// The list line of segment number n (1-based): number, name, duration and flows, TAB-separated.
std::string StepProgramLine(const TGasItem& segment, size_t n);
// Rebuilds RzTabbedListBoxSteps from StepProgram, with no line selected.
void ShowStepProgram(TMixer& mixer);
// Loads the selected segment into the editors; nothing when no line is selected.
void RetrieveStep(TMixer& mixer);
// Empties StepProgram and the list.
void ClearStepProgram(TMixer& mixer);

// Handlers of the segment list and the duration field.
void RzTabbedListBoxStepsClick(TMixer& mixer);
// Esc unselects, so that the next "Add or Save Segment" appends.
void RzTabbedListBoxStepsKeyUp(TMixer& mixer, int key);
void RtDoubleEditStepDurationKeyUp(TMixer& mixer);

// Binds the handlers above to the segment editor's controls. Call once per window.
void BindSegmentProgramHandlers(TMixer& mixer);

}  // namespace moirex

#pragma once
// What the operator reads of the worker's readings during a run: the five status bar panels (gas
// A flow, gas A moving average, gas A segment average, gas B flow, warnings) and the values the
// flow graph plots. Pure: the tick hands it the readings and the running segment's gas A and gas
// B, and writes the result to the window.
//
// A reading the worker could not take is -1 in FlowStatus. It is shown as "no reading" in place
// of its figure, is never judged against its wanted flow, and is a gap in its graph line (not a
// point at 0 or below).

#include <array>
#include <string>

#include "state/GasMixtures.h"
#include "state/MixerState.h"
#include "form/Controls.h"
#include "support/DateTime.h"

namespace moirex {

class TForm1;

inline constexpr const char* NoReading = "no reading";
inline constexpr const char* FlowAWarning = "Flow A Warning";
inline constexpr const char* FlowBWarning = " Flow B Warning";

// True when FlowStatus holds the worker's mark of a reading it could not take.
bool ReadingMissing(double reading);

struct TFlowStatusPanels {
    std::array<std::string, TStatusBar::PanelCount> Panels;
    bool WarningA = false;
    bool WarningB = false;
};

// The panels for the readings `fs` of a segment with gas A `A` and gas B `B` (records reset by
// Init when the segment lacks them), `segmentMinutes` after the segment began.
//
// Gas A of a pulsed segment (Pulsed < 1) is judged by an average, as its flow switches between a
// low flow and zero: by the moving average once that spans this segment only (the segment has run
// three times as long as the average spans, when the earlier flows weigh less than 5 %), before
// that by the segment's own average, and not at all while the segment is younger than the moving
// average's span (the first pulses have not evened out yet). Gas A at constant flow and gas B are
// judged by their readings.
TFlowStatusPanels FlowStatusPanels(const TFlowStatus& fs, const TGasItem& A, const TGasItem& B,
                                   double segmentMinutes);

// The value the graph plots for a reading: not-a-number (a gap in the line) for a missing one.
double GraphValue(double reading);

// The graph's mark of a run's end: a point at the time the run stopped with no value in any of its
// three lines (a missing reading leaves the segment average a number), so the next run's lines
// start afresh instead of joining this one's, and the graph can show where the run stopped.
void AddRunEnd(TForm1& form, TDateTime when);
// Whether point `index` of the graph's vectors is a run's end (false outside the vectors).
bool IsRunEnd(const TForm1& form, int index);
bool IsRunEnd(const TDoubleVector& gasA, const TDoubleVector& gasB, const TDoubleVector& average, int index);

// Writes the panels to the status bar.
void ShowStatusPanels(TStatusBar& bar, const TFlowStatusPanels& panels);

}  // namespace moirex

#pragma once
// What "Add or Save Segment" checks beyond the fluid's ppm limit: a segment no operator means is
// refused (a duration that is negative, not a number, or longer than a year), one that is merely
// unusual is asked about first (longer than a day; more water than the gas can hold as vapour at
// the outlet conditions, which is meant only where the outlet is kept warmer than they say).

#include <string>
#include <vector>

#include "model/MixtureReport.h"
#include "state/GasMixtures.h"

namespace moirex {

// The longest segment taken, and the length from which one is asked about (hours).
inline constexpr double LongestSegment_h = 8760;
inline constexpr double UnusualSegment_h = 24;
// Relative humidity of water at the outlet conditions (%) above which it condenses there.
inline constexpr double CondensingHumidity = 100;

struct TSegmentCheck {
    std::string Refusal;                 // empty: the segment may be taken
    std::vector<std::string> Questions;  // each asked; a No keeps the segment out
};

// The checks of `segment` with the report's `figures` at the outlet conditions.
TSegmentCheck CheckSegment(const TGasItem& segment, const TMixtureFigures& figures, double temperatureC,
                           double pressuremBar);

}  // namespace moirex

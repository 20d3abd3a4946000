#pragma once
// "Check program": what the segment program will dose, worked out before Start from the segments
// alone. Per segment and for the whole program: duration, mass and normal volume of gas A and gas
// B, mass and volume of fluid C, syringe strokes, the segments where gas A is pulsed or a wanted
// flow was corrected, and when each segment ends if the program were started now. It changes
// nothing and talks to no instrument.

#include <cstddef>
#include <string>
#include <vector>

#include "state/GasMixtures.h"
#include "state/MixerState.h"
#include "support/DateTime.h"

namespace moirex {

// What one gas or the fluid delivers over a segment (or the whole program).
struct TDoseCheck {
    bool Present = false;
    std::string Name;      // gas or fluid name as the segment holds it
    double Flow_gpm = 0;   // g/min; for the whole program the largest of its segments
    double Mass_g = 0;
    double NormalVolume_ml = 0;  // gases, at 0 °C and 1013.25 mbar; NaN when the molar mass is unknown
    double Volume_ml = 0;        // fluid, at 20 °C; NaN when the density is unknown
    double Strokes = 0;          // fluid: full syringe strokes; NaN when the syringe volume is unknown
};

struct TSegmentCheck {
    size_t Number = 0;  // 1-based
    std::string Name;
    double Hours = 0;
    TDateTime End = 0;
    TDoseCheck GasA, GasB, FluidC;
    float Pulsed = 1;  // gas A's pulse ratio; below 1 gas A is pulsed
    std::string PumpCommand;
    std::vector<std::string> Corrections;
};

struct TProgramCheck {
    TDateTime Start = 0;
    std::vector<TSegmentCheck> Segments;
    // Sums over the segments: Hours, masses, volumes, strokes; End is the program's end.
    TSegmentCheck Total;
    std::vector<size_t> PulsedSegments;     // numbers of the segments where gas A is pulsed
    std::vector<size_t> CorrectedSegments;  // numbers of the segments with a corrected flow
    bool CorrectionsKnown = false;          // false: built without the corrections of its segments
};

// Works out the check of `program` started at `start` with the syringe of `pump`. `corrections`,
// when given, holds for each segment the corrections of its wanted flows when it was built (as
// opening a program file returns them, TProgramOpenOutcome::Corrections); without it the check
// says that they are not known, since a segment record does not keep what was wanted.
TProgramCheck CheckProgram(const std::vector<TGasItem>& program, const TPumpDetails& pump, TDateTime start,
                           const std::vector<std::vector<std::string>>* corrections = nullptr);

// The check as text lines (without line ends).
std::vector<std::string> ProgramCheckLines(const TProgramCheck& check);

// The corrections found when a program file was opened, for the check of that program: kept
// while the segment program is still the one opened (same segments, as listed, with the same pump
// commands); once it is edited, they no longer say which segments were corrected.
class TOpenedProgramCorrections {
public:
    void Remember(const std::vector<TGasItem>& program, const std::vector<std::vector<std::string>>& corrections);
    // The corrections when `program` is the one remembered; nullptr otherwise.
    const std::vector<std::vector<std::string>>* For(const std::vector<TGasItem>& program) const;

private:
    std::vector<std::string> signature_;
    std::vector<std::vector<std::string>> corrections_;
    bool remembered_ = false;
};

// "Check program": the check of the mixer's segment program started at `now`, shown in Memo1.
void ShowProgramCheck(TMixer& mixer, TDateTime now,
                      const std::vector<std::vector<std::string>>* corrections = nullptr);

}  // namespace moirex

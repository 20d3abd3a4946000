#pragma once
// Building segments on the window's controls from outside the window (moirexctl report and run,
// the benchmarks): the pump as "Set to water" and "Apply and save" leave it, and a segment of the
// program file built as the segment editor builds it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ProgramFile.h"
#include "state/MixerState.h"

namespace moirex {

// The pump's defaults for a syringe of `syringe_ul` µl on `port`, the fluid upper limit, then pure
// water as the pump's fluid and the fluid flow's range. False (with the dialog texts in `error`)
// when the fluid could not be applied.
bool SetUpWaterPump(moirex::TMixer& mixer, double syringe_ul, int64_t ppmLimit, const std::string& port,
                    std::string& error);

// The pump of a run without the window: the fluid, syringe and fluid limit that the configuration
// file gave (INILoad has applied them), on `port`, with the syringe volume `syringe_ul` instead
// when given. `used` tells the values taken and where each came from. False (with the dialog
// texts in `error`) when the fluid could not be applied.
bool SetUpConfiguredPump(moirex::TMixer& mixer, std::optional<double> syringe_ul, const std::string& port,
                         std::string& used, std::string& error);

// What happened to one segment's wanted flows on the way into the segment record.
struct SegmentBuildOutcome {
    bool Added = false;                  // the segment editor stored it
    std::vector<std::string> Corrections;  // each wanted flow that was changed, and why
    std::string Refusal;                 // why it was not stored
};

// Puts the segment into the editors (name, duration, the three wanted flows), brings them within
// what the controllers' active gas tables and the pump can do as the flow editors do, and appends
// it with "Add or Save Segment". A pump command of the segment is kept when it doses the segment's
// fluid flow with the pump's syringe and fluid; otherwise the command is chosen anew from the flow
// (and said so). The controllers need an active gas table entry: validated, or in simulation.
SegmentBuildOutcome AddProgramSegment(moirex::TMixer& mixer, const moirex::TProgramSegment& segment);

}  // namespace moirex

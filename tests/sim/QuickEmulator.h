#pragma once
// The emulator for a test that is not about the line's pace: answers at once, flows without noise,
// flow physics and pump timing `timeScale` times faster than real time, its links in `folder`.

#include <string>
#include <utility>

#include "sim/Emulator.h"

namespace moirex::testing_sim {

inline sim::EmulatorOptions QuickEmulator(std::string folder, double timeScale = 1.0) {
    sim::EmulatorOptions o;
    o.RuntimeFolder = std::move(folder);
    o.Paced = false;
    o.Noise = false;
    o.TimeScale = timeScale;
    return o;
}

}  // namespace moirex::testing_sim

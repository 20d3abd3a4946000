#pragma once
// The syringe options shared by the pump commands of moirexctl.

#include <cmath>
#include <string>

#include "Command.h"

namespace moirexctl {

struct PumpOptions {
    double syringeVolume_ul = 12.5;
    float density = 0.997735f;  // single precision, as the pump's fluid holds it
};

// --syringe-ul and --density: both must be above 0; the density must fit a single-precision value.
inline PumpOptions ReadPumpOptions(const Args& args) {
    PumpOptions pump;
    pump.syringeVolume_ul = args.Real("--syringe-ul", pump.syringeVolume_ul);
    if (!(pump.syringeVolume_ul > 0))
        throw UsageError("--syringe-ul: the syringe volume must be above 0 µl: " + *args.Value("--syringe-ul"));
    const double density = args.Real("--density", pump.density);
    pump.density = static_cast<float>(density);
    if (!(density > 0) || !(pump.density > 0) || !std::isfinite(pump.density))
        throw UsageError("--density: the density must be a positive number of g/ml: " + *args.Value("--density"));
    return pump;
}

}  // namespace moirexctl

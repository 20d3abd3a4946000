#pragma once
// Design by target: from the outlet the operator wants — a total flow, the concentration of one
// component of gas A or gas B, and the humidity of water or the concentration of the fluid — to
// the three wanted flows of the design page. The inverse of the mixture report with the report's
// own physics: the proposal is built into part records, corrected and read back through the
// report's figures exactly as the page would, and each target is reported as asked and achieved,
// with what stops it when it cannot be met.
//
// The concentrations fix the ratio of the three flows; the total fixes the scale. The pump doses
// in steps, so the scale follows the pump's nearest command and the gases are computed for the
// fluid actually dosed: the concentrations are met to the rounding of whole µg/min, and the total
// moves by the pump's step. Instrument ranges, the fluid's ppm limit and saturation bound what can
// be asked; a target beyond them is reported with the limit and the nearest possible flows.

#include <cstdint>
#include <string>
#include <vector>

#include "model/MixtureParts.h"
#include "state/GasMixtures.h"

namespace moirex {

enum class TTotalFlowUnit : uint8_t {
    tuVolume_mlpm,  // ml/min at the outlet conditions, as the report's last volumetric line
    tuMass_gpm,     // g/min, as the report's total mass flow
};

enum class TFluidTarget : uint8_t {
    ftNone,              // no fluid
    ftRelativeHumidity,  // RH of water in % at the outlet conditions (the fluid holds water)
    ftFluidPpm,          // the pump's fluid as a whole, ppm of the outlet
};

struct TDesignTarget {
    TTotalFlowUnit TotalUnit = TTotalFlowUnit::tuVolume_mlpm;
    double Total = 0;
    std::string Component;  // short name ("H2") or long name ("Hydrogen") of a component of gas A or B
    double ComponentPpm = 0;
    TFluidTarget Fluid = TFluidTarget::ftNone;
    double FluidValue = 0;  // % RH or ppm
};

// What the instruments dose and the outlet conditions the report uses.
struct TDesignSources {
    TGasSource GasA;
    TGasSource GasB;
    TFluidSource Fluid;
    double TemperatureC = 21;
    double PressuremBar = 1013.25;
};

struct TTargetOutcome {
    std::string Name;   // "total flow", the component's short name, "RH", "fluid"
    std::string Unit;   // "ml/min", "g/min", "ppm", "%"
    double Asked = 0;
    double Achieved = 0;  // as the report of the proposed flows computes it
    // How far the rounding of the gas flows to whole µg/min (and the report's single precision)
    // can move the figure; a met concentration lies within it.
    double Bound = 0;
    std::string Limit;  // empty when met; otherwise what stops it
    bool Met() const { return Limit.empty(); }
};

struct TDesignResult {
    std::string Refusal;  // not empty: nothing is proposed, and this says why

    int64_t GasA_ugpm = 0;
    int64_t GasB_ugpm = 0;
    double ExactGasA_ugpm = 0;         // the flows before the rounding to whole µg/min
    double ExactGasB_ugpm = 0;
    double Fluid_ugpm = 0;             // wanted fluid flow, whole µg/min
    double FluidAchievable_ugpm = 0;   // the modelled flow of the pump command
    std::string PumpCommand;
    float PulsedA = 1.0f;              // gas A's duty fraction (below MFC A's minimum)

    std::vector<TTargetOutcome> Targets;  // the total, the component, the fluid when asked
    std::vector<std::string> Notes;       // what the page will do beyond the flows (pulsing, pump step)
    TGasItem Mixture;                     // the parts A, B, C of the proposal, as the page builds them

    bool Refused() const { return !Refusal.empty(); }
    bool AllMet() const;
};

TDesignResult DesignByTarget(const TDesignSources& sources, const TDesignTarget& target);

// The proposal as the operator reads it, lines ending CR LF: the three flows (the pump command
// and its achievable flow), each target asked, achieved, its bound and what stops it, the notes;
// or the refusal.
std::string DesignResultText(const TDesignResult& result);

}  // namespace moirex

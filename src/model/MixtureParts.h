#pragma once
// The design page's rules for one set of wanted flows, without the window: how a wanted gas flow
// is brought within what its controller can hold, the fluid flow's range and its pump command,
// and the part records (gas A, gas B, fluid C) from which a segment's mixture is built. The flow
// editors use them on the controls; the design by target uses them on its own proposals, so a
// proposal is corrected and reported exactly as the page would.

#include <cstdint>
#include <string>

#include "model/PumpSpeedFunction.h"
#include "state/GasMixtures.h"
#include "state/InstrumentRecords.h"

namespace moirex {

// What a wanted gas flow ran into on its way into the editor.
enum class TFlowLimit : uint8_t {
    flNone,
    flAboveMaximum,  // held at the controller's maximum
    flAtOrBelowMinimum,  // gas B at or below its controller's minimum: set to 0
};

struct TGasFlowCorrection {
    int64_t Flow_ugpm = 0;
    TFlowLimit Limit = TFlowLimit::flNone;
};

// A wanted flow (µg/min) held within an active gas table entry's range: gas B at or below the
// minimum becomes 0 (gas A can be dosed there, by pulsing); above the maximum gas A takes the
// maximum rounded down, gas B the maximum rounded to the nearest whole µg/min.
TGasFlowCorrection CorrectGasFlow(const TLUTData& entry, int64_t wanted_ugpm, bool isGasB);

// The largest and, for gas B, the smallest whole µg/min that CorrectGasFlow leaves unchanged
// (gas A has no smallest: it is pulsed below the minimum).
int64_t LargestGasFlow_ugpm(const TLUTData& entry, bool isGasB);
int64_t SmallestGasFlowB_ugpm(const TLUTData& entry);

// What one controller doses into the mixture.
struct TGasSource {
    TGasItems Gas = TGasItems::gUndefined;  // the catalogue entry of the active gas table's short name
    bool Demo = false;                      // simulation: the demonstration gas replaces the names and molar mass
    std::string DemoName;
    float DemoMolarMass = 0;
    TLUTData Entry;                         // the active gas table entry (range, names)
    int32_t InstrumentID = 0;               // 0 gas A, 1 gas B
    std::string Port;
    bool IsGasB() const { return InstrumentID == 1; }
};

// The part record of a gas at a wanted flow above 0 (µg/min): the catalogue record (with a bottled
// mixture's components) or the demonstration gas, the instrument and its port, and for gas A the
// duty fraction below the controller's minimum. A gas the catalogue does not know gives a record
// with an empty short name, which the mixture leaves out.
TGasItem GasPart(const TGasSource& source, int64_t flow_ugpm);

// What the syringe pump doses into the mixture.
struct TFluidSource {
    TGasItem Fluid;             // the pump's fluid, with its components
    std::string Port;
    int32_t FluidMaxPPM = 0;
    double SyringeVolume_ul = 0;
    float CustTempC = 0;        // outlet conditions carried by the fluid's components
    float CustPressmBar = 0;
};

// The largest wanted fluid flow (µg/min): the fastest constant-velocity rate of the syringe and fluid.
double FluidFlowMaximum(const TFluidSource& source);
// The pump command for a wanted fluid flow (µg/min), with its achievable rate (Command,
// AchievedDispense_ugpm).
TPumpSpeedDetails PumpCommandFor(const TFluidSource& source, double wanted_ugpm);

// The part record of the fluid dosed by `command` at its achievable flow (µg/min, above 0): the
// pump's fluid under the short name "MIX_" + its long name, its components rescaled from the
// designer's relative masses to g/min adding up to the flow.
TGasItem FluidPart(const TFluidSource& source, const std::string& command, double achievable_ugpm);

}  // namespace moirex

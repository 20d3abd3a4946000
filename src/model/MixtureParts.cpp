#include "model/MixtureParts.h"

#include <algorithm>
#include <cmath>

#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr int32_t FastestSpeed = 1000;  // constant velocity, the pump's fastest dosing speed
constexpr size_t DesignerComponents = 4;

TPumpSpeedDetails PumpModel(const TFluidSource& source) {
    TPumpSpeedDetails details{};
    details.SyringeVolume_ul = source.SyringeVolume_ul;
    details.FluidDensity = source.Fluid.DensityFluid20C;
    return details;
}

}  // namespace

TGasFlowCorrection CorrectGasFlow(const TLUTData& entry, int64_t v, bool isGasB) {
    const double Max = entry.RangeMax;
    const double Min = entry.RangeMin;
    TGasFlowCorrection c{v, TFlowLimit::flNone};
    if (isGasB && c.Flow_ugpm != 0 && Min * 1e6 >= double(c.Flow_ugpm)) {
        c.Flow_ugpm = 0;
        c.Limit = TFlowLimit::flAtOrBelowMinimum;
    }
    if (Max < double(c.Flow_ugpm) / 1e6) {
        c.Flow_ugpm = isGasB ? RoundHalfEven(Max * 1e6) : static_cast<int64_t>(std::floor(Max * 1e6));
        c.Limit = TFlowLimit::flAboveMaximum;
    }
    return c;
}

int64_t LargestGasFlow_ugpm(const TLUTData& entry, bool isGasB) {
    const double Max = entry.RangeMax;
    return isGasB ? RoundHalfEven(Max * 1e6) : static_cast<int64_t>(std::floor(Max * 1e6));
}

int64_t SmallestGasFlowB_ugpm(const TLUTData& entry) {
    return static_cast<int64_t>(std::floor(double(entry.RangeMin) * 1e6)) + 1;
}

TGasItem GasPart(const TGasSource& source, int64_t flow_ugpm) {
    TGasItem part;
    part.Init();
    const float flow = static_cast<float>(double(flow_ugpm) / 1e6);
    MakeGasItem(source.Gas, part, flow);
    if (source.Demo) {
        part.GasNameMFC = source.DemoName;
        part.GasNameLong = source.DemoName;
        part.MolarMass = source.DemoMolarMass;
    }
    part.InstrumentID = source.InstrumentID;
    part.InstrumentPort = source.Port;
    if (source.IsGasB())
        part.Pulsed = 1.0f;
    else
        part.Pulsed = source.Entry.RangeMin > flow ? flow / source.Entry.RangeMin : 1.0f;
    return part;
}

double FluidFlowMaximum(const TFluidSource& source) { return ConstantVelocityDispense(PumpModel(source), FastestSpeed); }

TPumpSpeedDetails PumpCommandFor(const TFluidSource& source, double wanted_ugpm) {
    TPumpSpeedDetails details = PumpModel(source);
    details.DesiredDispense_ugpm = wanted_ugpm;
    CalculatePumpSpeed(details);
    return details;
}

TGasItem FluidPart(const TFluidSource& source, const std::string& command, double achievable_ugpm) {
    TGasItem c = source.Fluid;
    c.GasNameMFC = "MIX_" + c.GasNameLong;
    c.MolarMass = source.Fluid.MolarMass;
    c.InstrumentID = 2;
    c.InstrumentPort = source.Port;
    c.PumpCommand = command;
    c.Pulsed = 1.0f;
    c.Fluid = true;
    c.FluidMaxPPM = source.FluidMaxPPM;
    c.Mass = static_cast<float>(achievable_ugpm / 1e6);

    // The designer's masses are relative amounts; they become g/min adding up to the flow.
    const size_t n = std::min(c.Components.size(), DesignerComponents);
    double sum = 0;
    for (size_t k = 0; k < n; ++k) {
        TGasItem& part = c.Components[k];
        if (part.GasNameMFC.empty()) continue;
        part.CustTempC = source.CustTempC;
        part.CustPressmBar = source.CustPressmBar;
        sum += part.Mass;
    }
    if (sum != 0) {
        for (size_t k = 0; k < n; ++k) {
            TGasItem& part = c.Components[k];
            if (part.GasNameMFC.empty()) continue;
            part.Mass = static_cast<float>(double(part.Mass) / sum * double(c.Mass));
        }
    }
    return c;
}

}  // namespace moirex

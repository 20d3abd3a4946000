#include "core/Totalizer.h"

#include <cmath>

#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr const char* kNine = "0.000 000 000";

void Log(const TLogLine& log, const std::string& line) {
    if (log) log(line);
}

}  // namespace

double TotalizerToGrams(double reading, const TLUTData& entry, const TLogLine& log) {
    const std::string& unit = entry.TotalizerUnit;
    const double density = entry.DensityGPL;
    if (unit == "mln" || unit == "mln*" || unit == "mlnJ") {
        return reading * 0.001 * density;
    }
    if (unit == "ln" || unit == "ln*" || unit == "lnJ") {
        Log(log, " MFC A: Totalizer unit LN needs conversion ");
        const double grams = reading * density;
        Log(log, " MFC A: grams per liter    : " + FormatMask(density, kNine));
        Log(log, " MFC A: Tot. in grams      : " + FormatMask(grams, kNine));
        return grams;
    }
    if (unit == "kg" || unit == "kgJ") {
        Log(log, " MFC A: Totalizer unit KG needs conversion ");
        // Kilograms are not expected from these controllers; the operator should report it.
        Log(log, " IF YOU ARE SEEING THIS CONTACT TARVEL ");
        const double grams = reading * 1000;
        Log(log, " MFC A: Tot. in grams      : " + FormatGeneral(grams));
        return grams;
    }
    return reading;
}

bool ReadTotalizerValue(TMFCDetails& MFCD, const TRegisterRead& read, double& Value,
                        const TLogLine& log) {
    Value = 0;
    Log(log, " MFC A: Active lut         : " + std::to_string(MFCD.ActiveLUT));

    const TSerialResponse setPoint = read(MFCRegisterSetPoint);
    if (!setPoint.Status.empty()) {
        Log(log, "Thread: ReadTotalizer: Comms failed, status:" + setPoint.Status);
        return false;
    }
    Log(log, " MFC A: Current setpoint   : " + FormatMask(setPoint.AsFloat, kNine));

    const TSerialResponse flow = read(MFCRegisterFlow);
    MFCD.CurrentObservedFlow = flow.Status.empty() ? static_cast<double>(flow.AsFloat) : -1.0;
    Log(log, " MFC A: Current flow       : " + FormatMask(flow.AsFloat, kNine));

    // Read through the const view: a table number outside 2..11 gives an empty entry.
    const TLUTData& entry = static_cast<const TLUT&>(MFCD.LUT)[MFCD.ActiveLUT];
    Log(log, " MFC A: Flow unit          : " + entry.UnitType);

    const TSerialResponse totalizer = read(MFCRegisterTotalizer);
    Log(log, " MFC A: Totalizer 0 value  : " + FormatMask(totalizer.AsFloat, kNine));
    Log(log, " MFC A: Totalizer unit     : " + entry.TotalizerUnit);
    Log(log, " MFC A: Totalizer scaling  : " + FormatMask(entry.TotalizerScaling, kNine));

    Value = TotalizerToGrams(totalizer.AsFloat, entry, log);

    // A value that is no number (a garbled answer with a valid check sum) would poison the
    // segment average and the moving averages for the rest of the segment: count it as failed.
    if (totalizer.Status.empty() && std::isfinite(Value)) {
        Log(log, "Totalizer:" + FormatGeneral(Value) + " g");
        return true;
    }
    Log(log, "Failed to read and convert totalizer to grams");
    return false;
}

bool AcceptFlowReading(const TSerialResponse& response, double& Flow) {
    Flow = response.Status.empty() ? static_cast<double>(response.AsFloat) : -1.0;
    return Flow > -1.0;
}

}  // namespace moirex

#include "config/SettingLimits.h"

#include <cmath>

#include "form/Form.h"
#include "support/TextFormat.h"

namespace moirex {

bool SettingInRange(const TSettingRange& range, double value) {
    return std::isfinite(value) && value >= range.Min && value <= range.Max;
}

std::string SettingRefusal(const TSettingRange& range, const std::string& key, const std::string& valueText,
                           double used) {
    return "[" + std::string(range.Section) + "] " + key + "=" + valueText + " is refused (allowed: " +
           FormatGeneral(range.Min) + " to " + FormatGeneral(range.Max) + "); " + FormatGeneral(used) +
           " is used instead";
}

void ApplySettingLimits(TForm1& f) {
    using namespace settings;
    auto real = [](TRealEdit& edit, const TSettingRange& r) { edit.SetLimits(r.Min, r.Max); };
    real(f.RtDoubleEditSyringeVolume, SyringeVolume);
    real(f.RtDoubleEditCustomTemp, CustomTemperature);
    real(f.RtDoubleEditCustomPressure, CustomPressure);
    real(f.RtDoubleEditDesignedMixtureDensity, MixtureDensity);
    real(f.RtDoubleEditDesignMixtureMolarMass, MixtureMolarMass);
    for (TRealEdit* mass : {&f.RtDoubleEdit1, &f.RtDoubleEdit2, &f.RtDoubleEdit3, &f.RtDoubleEdit4}) {
        real(*mass, ComponentMass);
    }
    f.RtIntegerEditFluidPPMLimit.SetLimits(static_cast<int64_t>(MaxPPM.Min), static_cast<int64_t>(MaxPPM.Max));
}

}  // namespace moirex

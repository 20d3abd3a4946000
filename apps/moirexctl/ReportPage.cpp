#include "ReportPage.h"

#include <cmath>

#include "core/ProgramSegments.h"

namespace moirexctl {

std::vector<OptionSpec> ReportPageOptionSpecs() {
    return {{"--syringe-ul"}, {"--ppm-limit"}, {"--temp"}, {"--pressure"}, {"--comment"}, {"--hours"}};
}

double ReadFinite(const Args& args, const std::string& option, double fallback) {
    const double v = args.Real(option, fallback);
    if (!std::isfinite(v)) throw UsageError(option + ": not a finite number: " + *args.Value(option));
    return v;
}

void ParseRange(const std::string& what, const std::string& text, double& rangeMin, double& rangeMax) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        throw UsageError(what + ": expected MIN:MAX in g/min, for example 0.0025:0.3: " + text);
    rangeMin = Args::ToReal(what + " minimum", text.substr(0, colon));
    rangeMax = Args::ToReal(what + " maximum", text.substr(colon + 1));
    if (!std::isfinite(rangeMin) || !std::isfinite(rangeMax) || rangeMin < 0 || rangeMax < rangeMin)
        throw UsageError(what + ": expected 0 <= MIN <= MAX in g/min: " + text);
}

ReportPageOptions ReadReportPageOptions(const Args& args) {
    ReportPageOptions o;
    o.syringe_ul = ReadFinite(args, "--syringe-ul", o.syringe_ul);
    if (!(o.syringe_ul > 0))
        throw UsageError("--syringe-ul: the syringe volume must be above 0 µl: " + *args.Value("--syringe-ul"));
    o.ppmLimit = args.Integer("--ppm-limit", o.ppmLimit);
    if (o.ppmLimit < 0 || o.ppmLimit > 1000001)
        throw UsageError("--ppm-limit: the limit lies within 0 .. 1000001 ppm: " + *args.Value("--ppm-limit"));
    o.temperatureC = ReadFinite(args, "--temp", o.temperatureC);
    if (o.temperatureC < -273 || o.temperatureC > 2000)
        throw UsageError("--temp: the outlet temperature lies within -273 .. 2000 °C: " + *args.Value("--temp"));
    o.pressuremBar = ReadFinite(args, "--pressure", o.pressuremBar);
    if (o.pressuremBar < 1)
        throw UsageError("--pressure: the outlet pressure is at least 1 mbar: " + *args.Value("--pressure"));
    o.hours = ReadFinite(args, "--hours", o.hours);
    if (o.hours < 0) throw UsageError("--hours: a duration cannot be negative: " + *args.Value("--hours"));
    o.comment = args.Text("--comment", "");
    return o;
}

void ValidatedController(moirex::TMFCDetails& d, const std::string& gas, double rangeMin, double rangeMax) {
    d.Validated = true;
    d.ActiveLUT = 2;
    d.ComPortName = "SIM";
    moirex::TLUTData& entry = d.LUT[2];
    entry.LUTNumber = 2;
    entry.NameShort = gas;
    entry.NameCustom = gas;
    entry.NameOwn = gas;
    entry.UnitType = "g/min";
    entry.RangeMin = static_cast<float>(rangeMin);
    entry.RangeMax = static_cast<float>(rangeMax);
}

bool ReportPage::SetUp(const ReportPageOptions& o, std::string& error) {
    mixer.MixerState = moirex::TMixerState::msReady;
    form.RtDoubleEditCustomTemp.SetValue(o.temperatureC);
    form.RtDoubleEditCustomPressure.SetValue(o.pressuremBar);
    form.RtDoubleEditStepDuration.SetValue(o.hours);
    form.EditStepComments.SetText(o.comment);
    return moirex::SetUpWaterPump(mixer, o.syringe_ul, o.ppmLimit, "SIM", error);
}

}  // namespace moirexctl

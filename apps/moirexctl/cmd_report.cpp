// moirexctl report: the machine recipe and mixture report of one segment, as Memo1 of the
// design page shows it for validated controllers and the pump filled with water.

#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "core/ProgramSegments.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "model/FluidDesigner.h"
#include "state/GasMixtures.h"
#include "state/MixerState.h"
#include "support/TextFormat.h"

namespace moirexctl {
namespace {

struct GasOption {
    bool given = false;
    std::string gas;
    int64_t flow_ugpm = 0;
};

GasOption ReadGas(const Args& args, const std::string& option) {
    GasOption g;
    const auto value = args.Value(option);
    if (!value) return g;
    const size_t eq = value->find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == value->size())
        throw UsageError(option + ": expected GAS=UGPM, for example " + option + " N2=100000: " + *value);
    g.given = true;
    g.gas = value->substr(0, eq);
    g.flow_ugpm = Args::ToInteger(option + " flow", value->substr(eq + 1));
    if (g.flow_ugpm < 0) throw UsageError(option + ": a flow cannot be negative: " + *value);
    return g;
}

double ReadFinite(const Args& args, const std::string& option, double fallback) {
    const double v = args.Real(option, fallback);
    if (!std::isfinite(v)) throw UsageError(option + ": not a finite number: " + *args.Value(option));
    return v;
}

// A controller as validation leaves it, with the gas in its active table 2.
void ValidatedController(moirex::TMFCDetails& d, const GasOption& g, double rangeMin, double rangeMax) {
    d.Validated = true;
    d.ActiveLUT = 2;
    d.ComPortName = "SIM";
    moirex::TLUTData& entry = d.LUT[2];
    entry.LUTNumber = 2;
    entry.NameShort = g.gas;
    entry.NameCustom = g.gas;
    entry.NameOwn = g.gas;
    entry.UnitType = "g/min";
    entry.RangeMin = static_cast<float>(rangeMin);
    entry.RangeMax = static_cast<float>(rangeMax);
}

void WarnIfUnknown(const GasOption& g, const char* which) {
    if (g.given && g.flow_ugpm > 0 && moirex::GasItemsFromName(g.gas) == moirex::TGasItems::gUndefined)
        std::cerr << "moirexctl report: gas " << which << " \"" << g.gas
                  << "\" is not a known gas name (names are case-sensitive: Air, N2, O2, Ar, CO2, H2, "
                     "MIX_087 ...); gas "
                  << which << " is left out of the mixture\n";
}

int RunReport(const std::vector<std::string>& argv) {
    const Args args(argv, {{"--a"}, {"--a-range"}, {"--b"}, {"--fluid-ugpm"}, {"--syringe-ul"}, {"--ppm-limit"},
                           {"--temp"}, {"--pressure"}, {"--comment"}, {"--hours"}});
    args.ExpectPositionals(0, 0);

    const GasOption gasA = ReadGas(args, "--a");
    const GasOption gasB = ReadGas(args, "--b");

    double rangeMin = 0, rangeMax = 0;  // no range: gas A is never pulsed
    if (const auto range = args.Value("--a-range")) {
        const size_t colon = range->find(':');
        if (colon == std::string::npos)
            throw UsageError("--a-range: expected MIN:MAX in g/min, for example 0.0025:0.3: " + *range);
        rangeMin = Args::ToReal("--a-range minimum", range->substr(0, colon));
        rangeMax = Args::ToReal("--a-range maximum", range->substr(colon + 1));
        if (!std::isfinite(rangeMin) || !std::isfinite(rangeMax) || rangeMin < 0 || rangeMax < rangeMin)
            throw UsageError("--a-range: expected 0 <= MIN <= MAX in g/min: " + *range);
    }

    const double fluid = ReadFinite(args, "--fluid-ugpm", 0);
    if (fluid < 0) throw UsageError("--fluid-ugpm: a flow cannot be negative: " + *args.Value("--fluid-ugpm"));
    const double syringe = ReadFinite(args, "--syringe-ul", 12.5);
    if (!(syringe > 0)) throw UsageError("--syringe-ul: the syringe volume must be above 0 µl: " + *args.Value("--syringe-ul"));
    const int64_t ppmLimit = args.Integer("--ppm-limit", 1000000);
    if (ppmLimit < 0 || ppmLimit > 1000001)
        throw UsageError("--ppm-limit: the limit lies within 0 .. 1000001 ppm: " + *args.Value("--ppm-limit"));
    const double temp = ReadFinite(args, "--temp", 21);
    if (temp < -273 || temp > 2000)
        throw UsageError("--temp: the outlet temperature lies within -273 .. 2000 °C: " + *args.Value("--temp"));
    const double pressure = ReadFinite(args, "--pressure", 1013.25);
    if (pressure < 1) throw UsageError("--pressure: the outlet pressure is at least 1 mbar: " + *args.Value("--pressure"));
    const double hours = ReadFinite(args, "--hours", 0.75);
    if (hours < 0) throw UsageError("--hours: a duration cannot be negative: " + *args.Value("--hours"));

    moirex::TForm1 form;
    moirex::ScriptedDialogs dialogs;
    moirex::TMixer mixer{form, dialogs};
    mixer.MixerState = moirex::TMixerState::msReady;

    form.RtDoubleEditCustomTemp.SetValue(temp);
    form.RtDoubleEditCustomPressure.SetValue(pressure);
    form.RtDoubleEditStepDuration.SetValue(hours);
    form.EditStepComments.SetText(args.Text("--comment", ""));
    std::string pumpError;
    if (!moirex::SetUpWaterPump(mixer, syringe, ppmLimit, "SIM", pumpError)) {
        std::cerr << "moirexctl report: " << pumpError << "\n";
        return ExitFailed;
    }

    ValidatedController(mixer.MFCADetails, gasA, rangeMin, rangeMax);
    ValidatedController(mixer.MFCBDetails, gasB, 0, 0);
    WarnIfUnknown(gasA, "A");
    WarnIfUnknown(gasB, "B");
    form.RtIntegerEditY1Flow.SetValue(gasA.flow_ugpm);
    form.RtIntegerEditY2Flow.SetValue(gasB.flow_ugpm);

    // The wanted fluid flow is held within the pump's range, as the fluid flow field holds it.
    form.RtDoubleEditFluidFlow.SetValue(fluid);
    moirex::FluidFlowUpdate(mixer);
    if (form.RtDoubleEditFluidFlow.Value() < fluid)
        std::cerr << "moirexctl report: the wanted fluid flow lies above the pump's range; it is held at "
                  << moirex::FormatGeneral(form.RtDoubleEditFluidFlow.Value()) << " µg/min\n";

    moirex::TGasItem mixture;
    moirex::ShowMixture2(mixer, mixture);
    if (mixture.Components.empty()) {
        std::cerr << "moirexctl report: no component is present (no known gas and no fluid with a flow above 0); there is nothing to report\n";
        return ExitOk;
    }
    std::cout << form.Memo1.Text() << std::flush;
    return mixture.Valid ? ExitOk : 3;
}

const CommandRegistrar registrar({
    "report",
    "machine recipe and mixture report of one segment",
    "Usage: moirexctl report [--a GAS=UGPM] [--a-range MIN:MAX] [--b GAS=UGPM] [--fluid-ugpm UGPM]\n"
    "                        [--syringe-ul 12.5] [--ppm-limit 1000000] [--temp 21] [--pressure 1013.25]\n"
    "                        [--comment TEXT] [--hours 0.75]\n"
    "\n"
    "Prints the text the design page shows for one segment: the machine recipe, then the mixture\n"
    "report (components, mass flows, volumetric flows, concentrations, humidity of water), with\n"
    "CR LF line ends. Both controllers count as validated and every port reads \"SIM\"; the pump\n"
    "holds pure water (\"Set to water\", then \"Apply and save\").\n"
    "\n"
    "  --a GAS=UGPM        gas A and its flow in whole µg/min; GAS is the name a controller\n"
    "                      reports (Air, N2, O2, Ar, CO2, H2, MIX_087 ...; case-sensitive)\n"
    "  --a-range MIN:MAX   MFC A's range in g/min; a flow below MIN is pulsed (default: never)\n"
    "  --b GAS=UGPM        gas B and its flow in whole µg/min\n"
    "  --fluid-ugpm UGPM   wanted water flow in µg/min; the pump's achievable flow enters the\n"
    "                      mixture (default 0: no fluid)\n"
    "  --syringe-ul UL     syringe volume in µl (default 12.5)\n"
    "  --ppm-limit PPM     upper limit of the fluid in the mixture, 0 .. 1000001 (default 1000000)\n"
    "  --temp C            outlet temperature in °C, -273 .. 2000 (default 21)\n"
    "  --pressure MBAR     outlet pressure in mbar, at least 1 (default 1013.25)\n"
    "  --comment TEXT      segment name (default \"ID:1\")\n"
    "  --hours H           segment duration in hours (default 0.75)\n"
    "\n"
    "Exit status: 0, or 3 when the fluid exceeds the ppm limit (the segment would be refused);\n"
    "2 on bad arguments.\n",
    RunReport,
});

}  // namespace
}  // namespace moirexctl

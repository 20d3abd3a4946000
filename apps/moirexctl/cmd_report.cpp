// moirexctl report: the machine recipe and mixture report of one segment, as Memo1 of the
// design page shows it for validated controllers and the pump filled with water.

#include <cmath>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"
#include "ReportPage.h"
#include "model/FlowSetpoints.h"
#include "model/FluidDesigner.h"
#include "state/GasMixtures.h"
#include "state/MixerState.h"
#include "support/Log.h"
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

void WarnIfUnknown(const GasOption& g, const char* which) {
    if (g.given && g.flow_ugpm > 0 && moirex::GasItemsFromName(g.gas) == moirex::TGasItems::gUndefined)
        std::cerr << "moirexctl report: gas " << which << " \"" << g.gas
                  << "\" is not a known gas name (names are case-sensitive: Air, N2, O2, Ar, CO2, H2, "
                     "MIX_087 ...); gas "
                  << which << " is left out of the mixture\n";
}

int RunReport(const std::vector<std::string>& argv) {
    std::vector<OptionSpec> specs{{"--a"}, {"--a-range"}, {"--b"}, {"--b-range"}, {"--fluid-ugpm"}};
    for (auto& spec : ReportPageOptionSpecs()) specs.push_back(spec);
    const Args args(argv, specs);
    args.ExpectPositionals(0, 0);

    const GasOption gasA = ReadGas(args, "--a");
    const GasOption gasB = ReadGas(args, "--b");

    // No range: the flow is taken as given (gas A is never pulsed, gas B never held at 0).
    double rangeMin = 0, rangeMax = 0;
    const auto rangeA = args.Value("--a-range");
    if (rangeA) ParseRange("--a-range", *rangeA, rangeMin, rangeMax);
    double rangeMinB = 0, rangeMaxB = 0;
    const auto rangeB = args.Value("--b-range");
    if (rangeB) ParseRange("--b-range", *rangeB, rangeMinB, rangeMaxB);

    const double fluid = ReadFinite(args, "--fluid-ugpm", 0);
    if (fluid < 0) throw UsageError("--fluid-ugpm: a flow cannot be negative: " + *args.Value("--fluid-ugpm"));
    const ReportPageOptions options = ReadReportPageOptions(args);

    ReportPage page;
    moirex::TForm1& form = page.form;
    moirex::TMixer& mixer = page.mixer;
    std::string pumpError;
    if (!page.SetUp(options, pumpError)) {
        std::cerr << "moirexctl report: " << pumpError << "\n";
        return ExitFailed;
    }

    ValidatedController(mixer.MFCADetails, gasA.gas, rangeMin, rangeMax);
    ValidatedController(mixer.MFCBDetails, gasB.gas, rangeMinB, rangeMaxB);
    WarnIfUnknown(gasA, "A");
    WarnIfUnknown(gasB, "B");
    form.RtIntegerEditY1Flow.SetValue(gasA.flow_ugpm);
    form.RtIntegerEditY2Flow.SetValue(gasB.flow_ugpm);

    // A controller with a range holds the flow within it as the design page does: above the
    // maximum at the maximum, gas B at or below its minimum at 0. The corrections and the page's
    // log lines are told on standard error.
    auto log = std::make_shared<moirex::TLogCapture>();
    moirex::DefaultDestination().AttachCapture(log);
    if (rangeA) moirex::FlowUpdateY1(mixer, false);
    if (rangeB) moirex::FlowUpdateY2(mixer, false);
    moirex::DefaultDestination().AttachCapture(nullptr);
    for (const std::string& line : log->Messages("Form")) std::cerr << "moirexctl report: " << line << "\n";
    const int64_t flowA = form.RtIntegerEditY1Flow.Value();
    const int64_t flowB = form.RtIntegerEditY2Flow.Value();
    if (flowA != gasA.flow_ugpm)
        std::cerr << "moirexctl report: gas A " << gasA.flow_ugpm << " µg/min corrected to " << flowA << " µg/min\n";
    if (flowB != gasB.flow_ugpm)
        std::cerr << "moirexctl report: gas B " << gasB.flow_ugpm << " µg/min corrected to " << flowB << " µg/min\n";

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
    "Usage: moirexctl report [--a GAS=UGPM] [--a-range MIN:MAX] [--b GAS=UGPM] [--b-range MIN:MAX]\n"
    "                        [--fluid-ugpm UGPM]\n"
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
    "  --a-range MIN:MAX   MFC A's range in g/min; a flow above MAX is held at MAX, a flow below\n"
    "                      MIN is pulsed (default: no range, the flow as given, never pulsed)\n"
    "  --b GAS=UGPM        gas B and its flow in whole µg/min\n"
    "  --b-range MIN:MAX   MFC B's range in g/min; a flow above MAX is held at MAX, a flow at or\n"
    "                      below MIN becomes 0 (default: no range, the flow as given)\n"
    "  --fluid-ugpm UGPM   wanted water flow in µg/min; the pump's achievable flow enters the\n"
    "                      mixture (default 0: no fluid)\n"
    "  --syringe-ul UL     syringe volume in µl (default 12.5)\n"
    "  --ppm-limit PPM     upper limit of the fluid in the mixture, 0 .. 1000001 (default 1000000)\n"
    "  --temp C            outlet temperature in °C, -273 .. 2000 (default 21)\n"
    "  --pressure MBAR     outlet pressure in mbar, at least 1 (default 1013.25)\n"
    "  --comment TEXT      segment name (default \"ID:1\")\n"
    "  --hours H           segment duration in hours (default 0.75)\n"
    "\n"
    "Flows corrected to a range, and the page's log lines about them, are told on standard error.\n"
    "Exit status: 0, or 3 when the fluid exceeds the ppm limit (the segment would be refused);\n"
    "2 on bad arguments.\n",
    RunReport,
});

}  // namespace
}  // namespace moirexctl

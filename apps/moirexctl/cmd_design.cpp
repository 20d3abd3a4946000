// moirexctl design: the three flows for a wanted outlet (total flow, a component's ppm, RH of
// water or ppm of the fluid), typed into the design page as the operator would, and the machine
// recipe and mixture report the page then shows.

#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "ReportPage.h"
#include "model/DesignOnPage.h"
#include "model/FlowSetpoints.h"
#include "model/MixtureReport.h"
#include "support/TextFormat.h"

namespace moirexctl {
namespace {

constexpr int ExitNotMet = 3;
// Without a range a controller is taken as holding any flow up to 1000 g/min.
constexpr double OpenRangeMax_gpm = 1000;

struct GasOption {
    std::string gas;
    double rangeMin = 0;
    double rangeMax = OpenRangeMax_gpm;
};

GasOption ReadGas(const Args& args, const std::string& option) {
    const auto value = args.Value(option);
    if (!value || value->empty())
        throw UsageError(option + " is needed: the gas of the controller, for example " + option +
                         " Ar or " + option + " Ar=0.002:0.6 (range in g/min)");
    GasOption g;
    const size_t eq = value->find('=');
    g.gas = value->substr(0, eq);
    if (g.gas.empty()) throw UsageError(option + ": expected GAS[=MIN:MAX]: " + *value);
    if (eq != std::string::npos) ParseRange(option + " range", value->substr(eq + 1), g.rangeMin, g.rangeMax);
    return g;
}

std::string Figure(double v) { return moirex::FormatMask(v, "0.######"); }


nlohmann::json TargetJson(const moirex::TTargetOutcome& t) {
    return {{"name", t.Name}, {"unit", t.Unit}, {"asked", t.Asked}, {"achieved", t.Achieved},
            {"bound", t.Bound}, {"met", t.Met()}, {"limit", t.Limit}};
}

int RunDesign(const std::vector<std::string>& argv) {
    std::vector<OptionSpec> specs{{"--a"},   {"--b"},         {"--total-mlpm"}, {"--total-gpm"},
                                  {"--ppm"}, {"--rh"},        {"--fluid-ppm"},  {"--json", false}};
    for (auto& spec : ReportPageOptionSpecs()) specs.push_back(spec);
    const Args args(argv, specs);
    args.ExpectPositionals(0, 0);

    const GasOption gasA = ReadGas(args, "--a");
    const GasOption gasB = ReadGas(args, "--b");

    moirex::TDesignTarget target;
    if (args.Has("--total-mlpm") == args.Has("--total-gpm"))
        throw UsageError("give the total flow once: --total-mlpm X (ml/min at the outlet) or --total-gpm X (g/min)");
    if (args.Has("--total-mlpm")) {
        target.TotalUnit = moirex::TTotalFlowUnit::tuVolume_mlpm;
        target.Total = ReadFinite(args, "--total-mlpm", 0);
    } else {
        target.TotalUnit = moirex::TTotalFlowUnit::tuMass_gpm;
        target.Total = ReadFinite(args, "--total-gpm", 0);
    }
    if (!(target.Total > 0)) throw UsageError("the total flow must be above 0");

    const auto ppm = args.Value("--ppm");
    if (!ppm) throw UsageError("--ppm COMPONENT=VALUE is needed, for example --ppm H2=500");
    const size_t eq = ppm->find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == ppm->size())
        throw UsageError("--ppm: expected COMPONENT=VALUE, for example --ppm H2=500: " + *ppm);
    target.Component = ppm->substr(0, eq);
    target.ComponentPpm = Args::ToReal("--ppm value", ppm->substr(eq + 1));
    if (!std::isfinite(target.ComponentPpm) || target.ComponentPpm < 0 || target.ComponentPpm > 1e6)
        throw UsageError("--ppm: the concentration lies within 0 .. 1000000 ppm: " + *ppm);

    if (args.Has("--rh") && args.Has("--fluid-ppm")) throw UsageError("give either --rh or --fluid-ppm, not both");
    if (args.Has("--rh")) {
        target.Fluid = moirex::TFluidTarget::ftRelativeHumidity;
        target.FluidValue = ReadFinite(args, "--rh", 0);
        if (target.FluidValue < 0) throw UsageError("--rh: the RH cannot be negative: " + *args.Value("--rh"));
    } else if (args.Has("--fluid-ppm")) {
        target.Fluid = moirex::TFluidTarget::ftFluidPpm;
        target.FluidValue = ReadFinite(args, "--fluid-ppm", 0);
        if (target.FluidValue < 0 || target.FluidValue > 1e6)
            throw UsageError("--fluid-ppm: the concentration lies within 0 .. 1000000 ppm: " + *args.Value("--fluid-ppm"));
    }
    const ReportPageOptions options = ReadReportPageOptions(args);
    const bool json = args.Flag("--json");

    ReportPage page;
    std::string pumpError;
    if (!page.SetUp(options, pumpError)) {
        std::cerr << "moirexctl design: " << pumpError << "\n";
        return ExitFailed;
    }
    ValidatedController(page.mixer.MFCADetails, gasA.gas, gasA.rangeMin, gasA.rangeMax);
    ValidatedController(page.mixer.MFCBDetails, gasB.gas, gasB.rangeMin, gasB.rangeMax);

    const moirex::TDesignResult result = moirex::DesignByTarget(moirex::DesignSourcesOf(page.mixer), target);
    if (result.Refused()) {
        if (json)
            std::cout << nlohmann::json{{"refused", result.Refusal}}.dump(2) << "\n";
        else
            std::cerr << "moirexctl design: cannot be met: " << result.Refusal << "\n";
        return ExitNotMet;
    }

    // The flows typed into the page; what it shows is read back from its own report.
    moirex::ApplyDesign(page.mixer, result);
    moirex::TGasItem mixture;
    moirex::ShowMixture2(page.mixer, mixture);
    const moirex::TForm1& form = page.form;
    if (form.RtIntegerEditY1Flow.Value() != result.GasA_ugpm || form.RtIntegerEditY2Flow.Value() != result.GasB_ugpm ||
        form.RtDoubleEditAchievableFluid.Value() != result.FluidAchievable_ugpm)
        std::cerr << "moirexctl design: the page did not keep the proposed flows (see the report)\n";

    if (json) {
        nlohmann::json j;
        j["gas_a_ugpm"] = form.RtIntegerEditY1Flow.Value();
        j["gas_b_ugpm"] = form.RtIntegerEditY2Flow.Value();
        j["fluid_ugpm"] = form.RtDoubleEditFluidFlow.Value();
        j["fluid_achievable_ugpm"] = form.RtDoubleEditAchievableFluid.Value();
        j["pump_command"] = form.Label30.Caption();
        j["pulsed_a"] = result.PulsedA;
        j["targets"] = nlohmann::json::array();
        for (const auto& t : result.Targets) j["targets"].push_back(TargetJson(t));
        j["notes"] = result.Notes;
        j["all_met"] = result.AllMet();
        j["valid"] = mixture.Valid;
        j["report"] = form.Memo1.Text();
        std::cout << j.dump(2) << "\n";
    } else {
        std::cout << moirex::DesignResultText(result);
        std::cout << "\r\n" << form.Memo1.Text() << std::flush;
    }
    for (const auto& t : result.Targets)
        if (!t.Met())
            std::cerr << "moirexctl design: " << t.Name << " " << Figure(t.Asked) << " " << t.Unit
                      << " cannot be met: " << t.Limit << " (achieved " << Figure(t.Achieved) << ")\n";
    return result.AllMet() && mixture.Valid ? ExitOk : ExitNotMet;
}

const CommandRegistrar registrar({
    "design",
    "the three flows for a wanted outlet: total flow, ppm of a component, RH or fluid ppm",
    "Usage: moirexctl design --a GAS[=MIN:MAX] --b GAS[=MIN:MAX] (--total-mlpm X | --total-gpm X)\n"
    "                        --ppm COMPONENT=VALUE [--rh VALUE | --fluid-ppm VALUE]\n"
    "                        [--temp 21] [--pressure 1013.25] [--syringe-ul 12.5] [--ppm-limit 1000000]\n"
    "                        [--comment TEXT] [--hours 0.75] [--json]\n"
    "\n"
    "Finds the flows of gas A, gas B and the pump's water for the outlet you want, types them into\n"
    "the design page as the operator would (the page corrects them as for typed flows), and prints\n"
    "the flows, each target asked and achieved, then the machine recipe and mixture report of them\n"
    "as moirexctl report prints it. The concentrations are met to the rounding of whole µg/min (the\n"
    "bound is printed); the pump doses in steps, so the total follows its nearest command.\n"
    "Both controllers count as validated on \"SIM\"; the pump holds pure water.\n"
    "\n"
    "  --a GAS[=MIN:MAX]   gas A as the controller names it (Air, N2, O2, Ar, CO2, H2, MIX_087 ...;\n"
    "                      case-sensitive) and MFC A's range in g/min (default 0:1000); below MIN\n"
    "                      gas A is pulsed\n"
    "  --b GAS[=MIN:MAX]   gas B and MFC B's range; at or below MIN gas B cannot be dosed\n"
    "  --total-mlpm X      total outlet flow in ml/min at the outlet conditions (--temp, --pressure)\n"
    "  --total-gpm X       total outlet flow in g/min\n"
    "  --ppm C=VALUE       concentration of component C of gas A or B (short or long name: H2 of\n"
    "                      MIX_087, the 5% H2 in Ar bottle), 0 .. 1000000 ppm\n"
    "  --rh VALUE          relative humidity of water at the outlet conditions, in %\n"
    "  --fluid-ppm VALUE   concentration of the pump's fluid as a whole (without both: no fluid)\n"
    "  --temp C            outlet temperature in °C, -273 .. 2000 (default 21)\n"
    "  --pressure MBAR     outlet pressure in mbar, at least 1 (default 1013.25)\n"
    "  --syringe-ul UL     syringe volume in µl (default 12.5)\n"
    "  --ppm-limit PPM     upper limit of the fluid in the mixture, 0 .. 1000001 (default 1000000)\n"
    "  --comment TEXT      segment name (default \"ID:1\"); --hours H  segment duration (default 0.75)\n"
    "  --json              the flows, targets, notes and report text as JSON\n"
    "\n"
    "Exit status: 0 when every target is met; 3 when one cannot be (the reason is printed: a\n"
    "controller's or the pump's range, the fluid ppm limit, RH above 100 %, the bottle's share);\n"
    "2 on bad arguments.\n",
    RunDesign,
});

}  // namespace
}  // namespace moirexctl

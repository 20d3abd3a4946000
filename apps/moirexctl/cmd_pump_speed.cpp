// moirexctl pump-speed: the pump command, modelled rate and search trace for a wanted fluid flow.

#include <cmath>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Command.h"
#include "PumpOptions.h"
#include "model/PumpSpeedFunction.h"
#include "support/TextFormat.h"

namespace moirexctl {
namespace {

int RunPumpSpeed(const std::vector<std::string>& argv) {
    const Args args(argv, {{"--rate"}, {"--syringe-ul"}, {"--density"}, {"--json", false}});
    args.ExpectPositionals(0, 0);
    if (!args.Has("--rate")) throw UsageError("--rate UGPM is required (the wanted fluid flow in µg/min)");
    const double rate = args.Real("--rate", 0);
    if (rate < 0) throw UsageError("--rate: a flow cannot be negative: " + *args.Value("--rate"));
    const PumpOptions pump = ReadPumpOptions(args);

    moirex::TPumpSpeedDetails details;  // all zero, as the set-points build it
    details.SyringeVolume_ul = pump.syringeVolume_ul;
    details.FluidDensity = pump.density;
    details.DesiredDispense_ugpm = rate;
    moirex::CalculatePumpSpeed(details);

    if (args.Flag("--json")) {
        nlohmann::json out;
        out["command"] = details.Command;
        out["achieved_ugpm"] = details.AchievedDispense_ugpm;
        out["feedback"] = details.Feedback;
        std::cout << out.dump(2) << "\n";
        return ExitOk;
    }
    std::cout << "Command: " << details.Command << "\n";
    std::cout << "Achieved: " << moirex::FormatGeneral(details.AchievedDispense_ugpm) << " µg/min\n";
    const std::string& trace = details.Feedback;
    for (size_t start = 0; start < trace.size();) {
        size_t end = trace.find(moirex::CRLF, start);
        if (end == std::string::npos) end = trace.size();
        std::cout << trace.substr(start, end - start) << "\n";
        start = end + moirex::CRLF.size();
    }
    return ExitOk;
}

const CommandRegistrar registrar({
    "pump-speed",
    "pump command and modelled rate for a wanted fluid flow",
    "Usage: moirexctl pump-speed --rate UGPM [--syringe-ul 12.5] [--density 0.997735] [--json]\n"
    "\n"
    "Chooses the syringe pump command whose modelled dispense rate is nearest to the wanted\n"
    "fluid flow, as the design page does for fluid C.\n"
    "\n"
    "  --rate UGPM        wanted fluid flow in µg/min (0 or more; 0 stops the pump: \"TR\")\n"
    "  --syringe-ul UL    syringe volume in µl (above 0; default 12.5)\n"
    "  --density GPML     density of the fluid at 20 °C in g/ml (above 0; default 0.997735,\n"
    "                     water), held in single precision as the pump's fluid holds it\n"
    "  --json             one JSON object: command, achieved_ugpm, feedback\n"
    "\n"
    "Prints \"Command: \" and the command, \"Achieved: \" and its modelled rate in µg/min,\n"
    "then the trace of the constant-velocity search (none for the dynamic loop).\n",
    RunPumpSpeed,
});

}  // namespace
}  // namespace moirexctl

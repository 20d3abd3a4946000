// moirexctl vapor-pressure: saturation vapour pressure of water at given temperatures.

#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "model/MixtureReport.h"
#include "support/TextFormat.h"

namespace moirexctl {
namespace {

constexpr double AbsoluteZeroC = -273.15;

int RunVaporPressure(const std::vector<std::string>& argv) {
    const Args args(argv, {});
    if (args.Positionals().empty()) throw UsageError("give at least one temperature in °C (see --help)");
    std::vector<double> temperatures;
    for (const auto& text : args.Positionals()) {
        const double t = Args::ToReal("temperature", text);
        if (t < AbsoluteZeroC) throw UsageError("temperature below absolute zero (-273.15 °C): " + text);
        temperatures.push_back(t);
    }
    for (double t : temperatures) std::cout << moirex::FormatGeneral(moirex::WaterVaporPressure(t)) << "\n";
    return ExitOk;
}

const CommandRegistrar registrar({
    "vapor-pressure",
    "saturation vapour pressure of water (mbar)",
    "Usage: moirexctl vapor-pressure T [T...]\n"
    "\n"
    "Prints the saturation vapour pressure of water in mbar at each temperature T in °C, one\n"
    "result a line, over water above 0 °C and over ice at 0 °C and below.\n"
    "Example: moirexctl vapor-pressure 20 -10 prints 23.3932074965827 and 2.59865693828292.\n",
    RunVaporPressure,
});

}  // namespace
}  // namespace moirexctl

// moirexctl pump-table: the pump table that start-up writes to the "Pump info" page.

#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "PumpOptions.h"
#include "model/PumpSpeedFunction.h"

namespace moirexctl {
namespace {

int RunPumpTable(const std::vector<std::string>& argv) {
    const Args args(argv, {{"--syringe-ul"}, {"--density"}});
    args.ExpectPositionals(0, 0);
    const PumpOptions pump = ReadPumpOptions(args);
    std::cout << moirex::PumpTableText(pump.syringeVolume_ul, pump.density);
    return ExitOk;
}

const CommandRegistrar registrar({
    "pump-table",
    "the pump table of the syringe and fluid",
    "Usage: moirexctl pump-table [--syringe-ul 12.5] [--density 0.997735]\n"
    "\n"
    "Prints the pump table exactly as start-up writes it to the \"Pump info\" page (lines end\n"
    "CR LF): the modelled rates of the slowest and fastest commands and the search for\n"
    "95000 µg/min with its trace.\n"
    "\n"
    "  --syringe-ul UL    syringe volume in µl (above 0; default 12.5)\n"
    "  --density GPML     density of the fluid at 20 °C in g/ml (above 0; default 0.997735,\n"
    "                     water), held in single precision as the pump's fluid holds it\n",
    RunPumpTable,
});

}  // namespace
}  // namespace moirexctl

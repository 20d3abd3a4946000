// moirexctl setup: the window's start-up and its Setup page on the terminal. Find ports, the three
// ports selected, Validate, and, when gases are given, the two gas lists clicked and the gas-line
// question answered; the configuration file is the window's, so a set-up made here is the set-up
// of the window and of moirexctl run.

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "core/RunBringUp.h"
#include "HeadlessWindow.h"
#include "support/TextFormat.h"

namespace moirexctl {
namespace {

std::string Required(const Args& args, const std::string& option, const char* what) {
    const auto v = args.Value(option);
    if (!v || moirex::Trim(*v).empty()) throw UsageError(option + " is missing: " + what);
    return moirex::Trim(*v);
}

int RunSetup(const std::vector<std::string>& argv) {
    const Args args(argv, {{"--pump"}, {"--mfc-a"}, {"--mfc-b"}, {"--gas-a"}, {"--gas-b"}, {"--yes", false}, {"--no", false}});
    args.ExpectPositionals(0, 0);
    const std::string pumpPort = Required(args, "--pump", "the pump's serial port");
    const std::string portA = Required(args, "--mfc-a", "MFC A's serial port");
    const std::string portB = Required(args, "--mfc-b", "MFC B's serial port");
    const std::optional<std::string> gasA = args.Value("--gas-a");
    const std::optional<std::string> gasB = args.Value("--gas-b");
    if (gasA.has_value() != gasB.has_value()) throw UsageError("--gas-a and --gas-b go together: give both or neither");
    // Refused before any instrument is touched, where it can be.
    for (const auto& [option, gas] : {std::pair{"--gas-a", gasA}, std::pair{"--gas-b", gasB}}) {
        std::string error;
        if (gas && !moirex::GasChoiceCanExist(*gas, error)) throw UsageError(std::string(option) + ": " + error);
    }
    if (args.Flag("--yes") && args.Flag("--no")) throw UsageError("--yes and --no: give one of them, or neither to be asked");
    std::optional<bool> answer;
    if (args.Flag("--yes")) answer = true;
    if (args.Flag("--no")) answer = false;

    HeadlessWindow window(answer);
    moirex::TForm1& f = window.form;
    window.Start();
    window.SelectPort(f.ListBoxPortPump, pumpPort);
    window.SelectPort(f.ListBoxPortMFC1, portA);
    window.SelectPort(f.ListBoxPortMFC2, portB);
    window.Validate();
    std::cout << "Pump found: " << (f.CheckBoxPump.Checked() ? "yes" : "no")
              << "; 2 MFCs (mass flow controllers) found: " << (f.CheckBoxMFC.Checked() ? "yes" : "no") << std::endl;

    if (gasA) {
        if (f.ListBox1.Count() == 0 || f.ListBox2.Count() == 0) {
            std::cerr << "moirexctl setup: the gases cannot be chosen: "
                      << (f.ListBox1.Count() == 0 ? "MFC A" : "MFC B") << " was not found" << std::endl;
            return ExitFailed;
        }
        std::string error;
        const int a = window.GasPosition(window.mixer.MFCADetails, moirex::Trim(*gasA), error);
        if (a < 0) throw UsageError("--gas-a: " + error);
        const int b = window.GasPosition(window.mixer.MFCBDetails, moirex::Trim(*gasB), error);
        if (b < 0) throw UsageError("--gas-b: " + error);
        window.PickGas(f.ListBox1, a);
        window.PickGas(f.ListBox2, b);
    }

    const bool ready = window.Ready();
    std::cout << "Gases selected: " << (f.CheckBoxGas.Checked() ? "yes" : "no")
              << "; mixer state: " << (ready ? "ready" : "not ready") << std::endl;
    return ready ? ExitOk : ExitFailed;
}

const CommandRegistrar registrar({
    "setup",
    "set the mixer up as the window's Setup page does: ports, validation, gases",
    "Usage: moirexctl setup --pump PORT --mfc-a PORT --mfc-b PORT [--gas-a GAS --gas-b GAS] [--yes|--no]\n"
    "\n"
    "Starts as the window starts (its configuration file, logging and remembered ports), then goes\n"
    "through the Setup page: Find ports, the three ports selected (a port the list does not show,\n"
    "such as a pseudo-terminal, is taken as well), Validate, and, with --gas-a and --gas-b, the\n"
    "gas of each controller chosen and the gas-line question answered. Every feedback line of the\n"
    "page is printed as the page shows it, every message box and the question as they come, and\n"
    "after a Yes the lines written to the run log. The configuration file is the window's: the\n"
    "ports are stored after a validation that found both controllers, the gases after a Yes.\n"
    "\n"
    "  --pump PORT      the syringe pump's serial port\n"
    "  --mfc-a PORT     MFC A's serial port (Modbus address 1)\n"
    "  --mfc-b PORT     MFC B's serial port (Modbus address 2)\n"
    "  --gas-a GAS      MFC A's gas: a gas table number 2 to 11, or its name (N2, Nitrogen ...)\n"
    "  --gas-b GAS      MFC B's gas, the same way\n"
    "  --yes, --no      the answer to the gas-line question (otherwise typed: yes or anything else)\n"
    "\n"
    "Exit status: 0 when the mixer is ready with the gases selected; 1 otherwise; 2 on bad\n"
    "arguments (a gas the controller has no table for included).\n",
    RunSetup,
});

}  // namespace
}  // namespace moirexctl

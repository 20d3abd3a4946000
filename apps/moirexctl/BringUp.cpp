#include "BringUp.h"

#include <algorithm>
#include <iostream>
#include <optional>
#include <tuple>

#include "config/SettingLimits.h"
#include "core/RunBringUp.h"
#include "core/ProgramSegments.h"
#include "devices/PortKey.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "state/MixerState.h"
#include "support/FileLocations.h"
#include "support/TextFormat.h"

namespace moirexctl {

namespace {

// A port from its option, else the one the window's configuration file remembers from the last
// validation.
std::string PortOption(const Args& args, const std::string& option, const std::string& remembered, const char* what) {
    if (args.Value(option)) return RequiredOption(args, option, what);
    if (moirex::Trim(remembered).empty())
        throw UsageError(option + " is missing: " + what + " (and no set-up has stored one; see moirexctl setup)");
    return moirex::Trim(remembered);
}

// The syringe of --syringe-ul; none: the configuration file's.
std::optional<double> Syringe(const Args& args) {
    if (!args.Value("--syringe-ul")) return std::nullopt;
    return args.Real("--syringe-ul", 0);
}

}  // namespace

std::string RequiredOption(const Args& args, const std::string& option, const char* what) {
    const auto v = args.Value(option);
    if (!v || moirex::Trim(*v).empty()) throw UsageError(option + " is missing: " + what);
    return moirex::Trim(*v);
}

void CheckBringUpOptions(const Args& args) {
    const std::string gasA = RequiredOption(args, "--gas-a", "MFC A's gas (table number 2 to 11, or gas name)");
    const std::string gasB = RequiredOption(args, "--gas-b", "MFC B's gas (table number 2 to 11, or gas name)");
    // Refused before any instrument is touched, where it can be.
    for (const auto& [option, gas] : {std::pair{"--gas-a", gasA}, std::pair{"--gas-b", gasB}}) {
        std::string error;
        if (!moirex::GasChoiceCanExist(gas, error)) throw UsageError(std::string(option) + ": " + error);
    }
    const std::optional<double> syringe = Syringe(args);
    if (syringe && !moirex::SettingInRange(moirex::settings::SyringeVolume, *syringe))
        throw UsageError("--syringe-ul: the syringe volume must lie from " +
                         moirex::FormatGeneral(moirex::settings::SyringeVolume.Min) + " to " +
                         moirex::FormatGeneral(moirex::settings::SyringeVolume.Max) + " µl: " + *args.Value("--syringe-ul"));
}

int BringUpInstruments(const Args& args, HeadlessWindow& window, const std::string& command,
                       const std::function<bool()>& interrupted) {
    const std::string prefix = "moirexctl " + command + ": ";
    const std::string gasA = RequiredOption(args, "--gas-a", "MFC A's gas (table number 2 to 11, or gas name)");
    const std::string gasB = RequiredOption(args, "--gas-b", "MFC B's gas (table number 2 to 11, or gas name)");
    moirex::TForm1& form = window.form;
    moirex::TMixer& mixer = window.mixer;
    window.Start();
    const std::string pumpPort = PortOption(args, "--pump", mixer.INIPortPump, "the pump's serial port");
    const std::string portA = PortOption(args, "--mfc-a", mixer.INIPortMFCA, "MFC A's serial port");
    const std::string portB = PortOption(args, "--mfc-b", mixer.INIPortMFCB, "MFC B's serial port");
    // Compared as devices: a by-id link and the node it leads to are one port.
    using moirex::SameNamedPort;
    if (SameNamedPort(pumpPort, portA) || SameNamedPort(pumpPort, portB) || SameNamedPort(portA, portB))
        throw UsageError("Select different COM ports for the MFCs (the pump, MFC A and MFC B each need their own port)");
    std::cout << "Ports: pump " << pumpPort << ", MFC A " << portA << ", MFC B " << portB << std::endl;
    window.SelectPort(form.ListBoxPortPump, pumpPort);
    window.SelectPort(form.ListBoxPortMFC1, portA);
    window.SelectPort(form.ListBoxPortMFC2, portB);
    window.Validate();
    if (interrupted()) return ExitFailed;
    if (!form.CheckBoxPump.Checked()) {
        std::cerr << prefix << "no pump found on " << pumpPort << std::endl;
        return ExitFailed;
    }
    const bool foundA = mixer.MFCADetails.Validated, foundB = mixer.MFCBDetails.Validated;
    if (!foundA || !foundB) {
        std::cerr << prefix << (!foundA ? "MFC A (address 1) on " + portA : std::string())
                  << (!foundA && !foundB ? " and " : "") << (!foundB ? "MFC B (address 2) on " + portB : std::string())
                  << ": no mass flow controller found" << std::endl;
        return ExitFailed;
    }

    // Gas selection: a gas the program does not know is refused before the controller is switched.
    std::string error;
    const int positionA = window.GasPosition(mixer.MFCADetails, gasA, error);
    if (positionA < 0) {
        std::cerr << prefix << "--gas-a: " << error << std::endl;
        return ExitUsage;
    }
    const int positionB = window.GasPosition(mixer.MFCBDetails, gasB, error);
    if (positionB < 0) {
        std::cerr << prefix << "--gas-b: " << error << std::endl;
        return ExitUsage;
    }
    bool unknown = false;
    for (const auto& [details, number, position] :
         {std::tuple{&mixer.MFCADetails, 1, positionA}, std::tuple{&mixer.MFCBDetails, 2, positionB}}) {
        const std::string message =
            moirex::UnrecognisedGasMessage(*details, number, static_cast<uint32_t>(position) + moirex::TLUT::First);
        if (message.empty()) continue;
        unknown = true;
        std::cerr << TerminalText(message) << std::endl;
    }
    if (unknown) {
        std::cerr << prefix << "the gas is not recognized; nothing runs" << std::endl;
        return ExitUsage;
    }
    window.PickGas(form.ListBox1, positionA);
    if (interrupted()) return ExitFailed;
    window.PickGas(form.ListBox2, positionB);
    if (interrupted()) return ExitFailed;
    if (!window.Ready()) {
        const bool asked = std::any_of(window.dialogs.shown.begin(), window.dialogs.shown.end(),
                                       [](const auto& e) { return e.kind == moirex::ScriptedDialogs::Entry::Question; });
        std::cerr << prefix
                  << (asked ? "the gases were not confirmed; nothing runs" : "a controller did not confirm its gas; nothing runs")
                  << std::endl;
        return ExitFailed;
    }

    // From here on the caller prints the run-log lines and messages it wants.
    window.StopPrinting();
    // The pump's syringe and fluid, the fluid limit and the outlet conditions of the configuration
    // file (the window's "Apply and save"), the syringe of --syringe-ul instead when given.
    std::string pumpError, used;
    if (!moirex::SetUpConfiguredPump(mixer, Syringe(args), pumpPort, used, pumpError)) {
        std::cerr << prefix << pumpError << std::endl;
        return ExitFailed;
    }
    used = "Settings used: " + used + ", from " + moirex::IniFilePath();
    std::cout << used << std::endl;
    moirex::LogOld(form.MemoLog, used);
    return ExitOk;
}

}  // namespace moirexctl

// moirexctl run: a whole segment program on the instruments without the window, through the same
// run controller and worker as the window: bring-up as the Setup page does it, the gas-line
// question, the segments built as the segment editor builds them, then Start, the 50 ms tick and
// the stop procedure.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

#include "Command.h"
#include "HeadlessWindow.h"
#include "RunSession.h"
#include "core/ProgramFile.h"
#include "core/ProgramSegments.h"
#include "core/RunBringUp.h"
#include "core/SegmentProgram.h"
#include "config/SettingLimits.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "state/MixerState.h"
#include "support/FileLocations.h"
#include "support/IniFile.h"
#include "support/TextFormat.h"

namespace moirexctl {
namespace {

std::atomic<int> gSignals{0};
std::atomic<int> gFirstSignal{0};  // its number gives the exit status of a stop on a signal

extern "C" void OnStopSignal(int signal) {
    int none = 0;
    gFirstSignal.compare_exchange_strong(none, signal);
    gSignals.fetch_add(1);
}

void InstallStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no restart: a wait for the typed answer ends at the signal
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A closed terminal is a stop as well, not an end that leaves the gases flowing; and output
    // into a closed pipe must not end the tool before the stop procedure has run.
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

std::string Required(const Args& args, const std::string& option, const char* what) {
    const auto v = args.Value(option);
    if (!v || moirex::Trim(*v).empty()) throw UsageError(option + " is missing: " + what);
    return moirex::Trim(*v);
}

// A port from its option, else the one the window's configuration file remembers from the last
// validation.
std::string PortOption(const Args& args, const std::string& option, const std::string& remembered, const char* what) {
    if (args.Value(option)) return Required(args, option, what);
    if (moirex::Trim(remembered).empty())
        throw UsageError(option + " is missing: " + what + " (and no set-up has stored one; see moirexctl setup)");
    return moirex::Trim(remembered);
}

void Print(const std::string& line) { std::cout << line << std::endl; }

int RunRun(const std::vector<std::string>& argv) {
    const Args args(argv, {{"--pump"}, {"--mfc-a"}, {"--mfc-b"}, {"--gas-a"}, {"--gas-b"}, {"--data"},
                           {"--yes", false}, {"--force", false}, {"--syringe-ul"}, {"--stop-retry-s"}});
    args.ExpectPositionals(1, 1);
    const std::string programPath = args.Positionals()[0];
    const std::string gasA = Required(args, "--gas-a", "MFC A's gas (table number 2 to 11, or gas name)");
    const std::string gasB = Required(args, "--gas-b", "MFC B's gas (table number 2 to 11, or gas name)");
    // Refused before any instrument is touched, where it can be.
    for (const auto& [option, gas] : {std::pair{"--gas-a", gasA}, std::pair{"--gas-b", gasB}}) {
        std::string error;
        if (!moirex::GasChoiceCanExist(gas, error)) throw UsageError(std::string(option) + ": " + error);
    }
    // The configuration file's syringe unless the option names one.
    std::optional<double> syringe;
    if (args.Value("--syringe-ul")) syringe = args.Real("--syringe-ul", 0);
    const double stopRetry = args.Real("--stop-retry-s", 60);
    if (!(stopRetry >= 0) || stopRetry > 86400)
        throw UsageError("--stop-retry-s: seconds from 0 to 86400: " + *args.Value("--stop-retry-s"));
    if (syringe && !moirex::SettingInRange(moirex::settings::SyringeVolume, *syringe))
        throw UsageError("--syringe-ul: the syringe volume must lie from " +
                         moirex::FormatGeneral(moirex::settings::SyringeVolume.Min) + " to " +
                         moirex::FormatGeneral(moirex::settings::SyringeVolume.Max) + " µl: " + *args.Value("--syringe-ul"));
    // The whole program is read before any instrument is touched: a bad line and nothing runs.
    const moirex::TProgramFileResult program = moirex::ReadProgramFile(programPath);
    if (!program.Ok()) {
        for (const std::string& e : program.Errors) std::cerr << "moirexctl run: " << programPath << ": " << e << "\n";
        std::cerr << "moirexctl run: the program was refused; nothing runs" << std::endl;
        return ExitUsage;
    }

    std::string dataPath;  // empty: "Run yyyy-mm-dd hh.mm.ss.csv" beside the recipe file
    if (const auto path = args.Value("--data")) {
        // An earlier run's data (whose recipe still names the file) is not overwritten unasked.
        std::error_code ec;
        if (std::filesystem::exists(*path, ec) && !args.Flag("--force"))
            throw UsageError("--data: " + *path + " exists already; give --force to replace it");
        dataPath = std::filesystem::absolute(*path).lexically_normal().string();
        // Checked without creating the file: a run refused later leaves nothing behind.
        const std::string folder = std::filesystem::path(dataPath).parent_path().string();
        const bool writable = std::filesystem::exists(dataPath, ec) ? ::access(dataPath.c_str(), W_OK) == 0
                                                                    : ::access(folder.c_str(), W_OK | X_OK) == 0;
        if (!writable) throw UsageError("--data: cannot write " + *path + ": " + std::strerror(errno));
    }

    InstallStopSignals();
    auto interrupted = [] {
        if (gSignals.load() == 0) return false;
        std::cerr << "moirexctl run: stopped before the run began; no flow was started" << std::endl;
        return true;
    };

    // The window's start-up and Setup page, headless: the configuration file and logging of the
    // window, the ports validated and the gases chosen through the page's own handlers.
    std::optional<bool> answer;
    if (args.Flag("--yes")) answer = true;
    HeadlessWindow window(answer);
    moirex::TForm1& form = window.form;
    moirex::TMixer& mixer = window.mixer;
    window.Start();
    const std::string pumpPort = PortOption(args, "--pump", mixer.INIPortPump, "the pump's serial port");
    const std::string portA = PortOption(args, "--mfc-a", mixer.INIPortMFCA, "MFC A's serial port");
    const std::string portB = PortOption(args, "--mfc-b", mixer.INIPortMFCB, "MFC B's serial port");
    if (pumpPort == portA || pumpPort == portB || portA == portB)
        throw UsageError("Select different COM ports for the MFCs (the pump, MFC A and MFC B each need their own port)");
    Print("Ports: pump " + pumpPort + ", MFC A " + portA + ", MFC B " + portB);
    window.SelectPort(form.ListBoxPortPump, pumpPort);
    window.SelectPort(form.ListBoxPortMFC1, portA);
    window.SelectPort(form.ListBoxPortMFC2, portB);
    window.Validate();
    if (interrupted()) return ExitFailed;
    if (!form.CheckBoxPump.Checked()) {
        std::cerr << "moirexctl run: no pump found on " << pumpPort << std::endl;
        return ExitFailed;
    }
    const bool foundA = mixer.MFCADetails.Validated, foundB = mixer.MFCBDetails.Validated;
    if (!foundA || !foundB) {
        std::cerr << "moirexctl run: " << (!foundA ? "MFC A (address 1) on " + portA : std::string())
                  << (!foundA && !foundB ? " and " : "") << (!foundB ? "MFC B (address 2) on " + portB : std::string())
                  << ": no mass flow controller found" << std::endl;
        return ExitFailed;
    }

    // Gas selection: a gas the program does not know is refused before the controller is switched.
    std::string error;
    const int positionA = window.GasPosition(mixer.MFCADetails, gasA, error);
    if (positionA < 0) {
        std::cerr << "moirexctl run: --gas-a: " << error << std::endl;
        return ExitUsage;
    }
    const int positionB = window.GasPosition(mixer.MFCBDetails, gasB, error);
    if (positionB < 0) {
        std::cerr << "moirexctl run: --gas-b: " << error << std::endl;
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
        std::cerr << "moirexctl run: the gas is not recognized; nothing runs" << std::endl;
        return ExitUsage;
    }
    window.PickGas(form.ListBox1, positionA);
    if (interrupted()) return ExitFailed;
    window.PickGas(form.ListBox2, positionB);
    if (interrupted()) return ExitFailed;
    if (!window.Ready()) {
        const bool asked = std::any_of(window.dialogs.shown.begin(), window.dialogs.shown.end(),
                                       [](const auto& e) { return e.kind == moirex::ScriptedDialogs::Entry::Question; });
        std::cerr << "moirexctl run: "
                  << (asked ? "the gases were not confirmed; nothing runs" : "a controller did not confirm its gas; nothing runs")
                  << std::endl;
        return ExitFailed;
    }
    // From here on the run prints its own run-log lines and messages.
    window.StopPrinting();

    // The segments, built as the segment editor builds them from the flow editors.
    std::string pumpError, used;
    if (!moirex::SetUpConfiguredPump(mixer, syringe, pumpPort, used, pumpError)) {
        std::cerr << "moirexctl run: " << pumpError << std::endl;
        return ExitFailed;
    }
    used = "Settings used: " + used + ", from " + moirex::IniFilePath();
    Print(used);
    moirex::LogOld(form.MemoLog, used);
    Print("");
    Print("Segment program " + programPath + ":");
    std::vector<std::string> refusals;
    for (size_t i = 0; i < program.Segments.size(); ++i) {
        if (interrupted()) return ExitFailed;  // a long program is no reason to wait for a signal
        const moirex::TProgramSegment& s = program.Segments[i];
        const std::string where = "segment " + std::to_string(i + 1) + " (line " + std::to_string(s.Line) + ", " + s.Name + "): ";
        const moirex::SegmentBuildOutcome outcome = moirex::AddProgramSegment(mixer, s);
        for (const std::string& c : outcome.Corrections) Print("  " + where + c);
        if (!outcome.Added) refusals.push_back(where + outcome.Refusal);
    }
    if (!refusals.empty()) {
        for (const std::string& r : refusals) std::cerr << "moirexctl run: " << programPath << ": " << r << "\n";
        std::cerr << "moirexctl run: the program was refused; nothing runs" << std::endl;
        return ExitUsage;
    }
    for (size_t i = 0; i < mixer.StepProgram.size(); ++i) {
        std::string line = moirex::StepProgramLine(mixer.StepProgram[i], i + 1);
        for (char& c : line)
            if (c == '\t') c = ' ';
        Print("  " + line);
    }

    RunSession session(mixer, dataPath, [] { return gSignals.load(); }, [] { return gFirstSignal.load(); });
    session.StopRetryLimitSeconds = stopRetry;
    return session.Run();
}

const CommandRegistrar registrar({
    "run",
    "run a segment program on the instruments (or the emulator), without the window",
    "Usage: moirexctl run PROGRAM [--pump PORT --mfc-a PORT --mfc-b PORT] --gas-a GAS --gas-b GAS\n"
    "                     [--data FILE] [--force] [--yes] [--syringe-ul UL] [--stop-retry-s 60]\n"
    "\n"
    "Reads the segment program PROGRAM (CSV: name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm; see the\n"
    "README), starts as the window starts (its configuration file and logging), brings the\n"
    "instruments up through the Setup page's own handlers (pump check, MFC A at address 1 and\n"
    "MFC B at address 2, each switched to its gas), asks the gas-line question, then runs the\n"
    "program: Start, the 50 ms tick, and the stop procedure after the last segment. The pump's\n"
    "syringe and fluid, the fluid limit and the outlet conditions are the configuration file's (the\n"
    "window's \"Apply and save\"); the run log says which were used. Every run-log line is printed as it is logged; the display text and the status bar\n"
    "when they change, at most once a second. Ctrl-C, SIGTERM or SIGHUP is the Stop button: every\n"
    "flow is stopped before the tool ends; a second signal does not cut the stop short.\n"
    "\n"
    "  --pump PORT        the syringe pump's serial port; without the three port options, the\n"
    "                     ports stored by the last validation (moirexctl setup or the window)\n"
    "  --mfc-a PORT       MFC A's serial port (Modbus address 1)\n"
    "  --mfc-b PORT       MFC B's serial port (Modbus address 2)\n"
    "  --gas-a GAS        MFC A's gas: a gas table number 2 to 11, or its name (N2, Nitrogen ...)\n"
    "  --gas-b GAS        MFC B's gas, the same way\n"
    "  --data FILE        the run data file (default: \"Run yyyy-mm-dd hh.mm.ss.csv\" beside the\n"
    "                     recipe file in Userdata): one CSV row per reading of the worker; an\n"
    "                     existing FILE is refused\n"
    "  --force            replace an existing --data FILE\n"
    "  --yes              answer the gas-line question with yes (otherwise type yes)\n"
    "  --syringe-ul UL    the pump's syringe volume in µl instead of the configuration file's\n"
    "  --stop-retry-s S   how long a stop that could not be confirmed is repeated (every 5 s)\n"
    "                     before moirexctl gives up with status 4 (default 60)\n"
    "\n"
    "Exit status: 0 when the program ran to its end and every flow was confirmed stopped; 128 + the\n"
    "signal's number (130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP) after a stop on a signal,\n"
    "every flow confirmed stopped; 5 when MFC A or MFC B did not answer for longer than the outage\n"
    "limit and the run stopped by itself, every flow confirmed stopped; 1 when the instruments could\n"
    "not be brought up, the gases were not confirmed or Start was refused (nothing runs); 2 on bad\n"
    "arguments, a bad program file or a gas the program does not know (nothing runs); 4 when the\n"
    "flows could not be confirmed stopped after a minute of retries (power the mixer off by hand);\n"
    "6 when every flow was confirmed stopped but the run data file could not be written (instead of\n"
    "0, 5 or 128 + the signal).\n",
    RunRun,
});

}  // namespace
}  // namespace moirexctl

// moirexctl run: a whole segment program on the instruments without the window, through the same
// run controller and worker as the window: bring-up as the Setup page does it, the gas-line
// question, the segments built as the segment editor builds them, then Start, the 50 ms tick and
// the stop procedure.

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

#include "Command.h"
#include "RunSession.h"
#include "core/ProgramFile.h"
#include "core/ProgramSegments.h"
#include "core/RunBringUp.h"
#include "core/SegmentProgram.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "state/MixerState.h"
#include "support/FileLocations.h"
#include "support/IniFile.h"
#include "support/TextFormat.h"

namespace moirexctl {
namespace {

std::atomic<int> gSignals{0};

extern "C" void OnStopSignal(int) { gSignals.fetch_add(1); }

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

void Print(const std::string& line) { std::cout << line << std::endl; }

// The operator's typed answer: true only for "yes".
bool AskTypedYes() {
    std::cout << "Type yes to confirm, anything else to end: " << std::flush;
    std::string answer;
    char c = 0;
    while (true) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got <= 0) {
            std::cout << std::endl;
            return false;  // end of input, or a stop signal while waiting
        }
        if (c == '\n') break;
        answer += c;
        if (answer.size() > 100) return false;
    }
    std::string a = moirex::Trim(answer);
    for (char& ch : a) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return a == "yes";
}

int RunRun(const std::vector<std::string>& argv) {
    const Args args(argv, {{"--pump"}, {"--mfc-a"}, {"--mfc-b"}, {"--gas-a"}, {"--gas-b"}, {"--data"},
                           {"--yes", false}, {"--syringe-ul"}});
    args.ExpectPositionals(1, 1);
    const std::string programPath = args.Positionals()[0];
    const std::string pumpPort = Required(args, "--pump", "the pump's serial port");
    const std::string portA = Required(args, "--mfc-a", "MFC A's serial port");
    const std::string portB = Required(args, "--mfc-b", "MFC B's serial port");
    const std::string gasA = Required(args, "--gas-a", "MFC A's gas (table number 2 to 11, or gas name)");
    const std::string gasB = Required(args, "--gas-b", "MFC B's gas (table number 2 to 11, or gas name)");
    const double syringe = args.Real("--syringe-ul", 12.5);
    if (!(syringe > 0) || syringe > 1e6)
        throw UsageError("--syringe-ul: the syringe volume must lie above 0 µl: " + *args.Value("--syringe-ul"));
    if (pumpPort == portA || pumpPort == portB || portA == portB)
        throw UsageError("Select different COM ports for the MFCs (the pump, MFC A and MFC B each need their own port)");

    // The whole program is read before any instrument is touched: a bad line and nothing runs.
    const moirex::TProgramFileResult program = moirex::ReadProgramFile(programPath);
    if (!program.Ok()) {
        for (const std::string& e : program.Errors) std::cerr << "moirexctl run: " << programPath << ": " << e << "\n";
        std::cerr << "moirexctl run: the program was refused; nothing runs" << std::endl;
        return ExitUsage;
    }

    std::unique_ptr<std::ofstream> data;
    if (const auto path = args.Value("--data")) {
        data = std::make_unique<std::ofstream>(*path, std::ios::binary | std::ios::trunc);
        if (!*data) throw UsageError("--data: cannot write " + *path);
    }

    InstallStopSignals();
    auto interrupted = [] {
        if (gSignals.load() == 0) return false;
        std::cerr << "moirexctl run: stopped before the run began; no flow was started" << std::endl;
        return true;
    };

    moirex::TForm1 form;
    moirex::ScriptedDialogs dialogs;
    moirex::TMixer mixer{form, dialogs};
    moirex::FeedbackSink feedback = [&](const std::string& line) {
        form.MemoSetupFeedback.Add(line);
        Print(line);
    };

    // Validation.
    Print("Checking the pump on " + pumpPort);
    const bool pumpFound = moirex::PumpFindInitHamilton(pumpPort, feedback);
    if (interrupted()) return ExitFailed;
    if (!pumpFound) {
        std::cerr << "moirexctl run: no pump found on " << pumpPort << std::endl;
        return ExitFailed;
    }
    mixer.PumpDetails.Port = pumpPort;
    Print(" -> Pump found");
    const bool foundA = moirex::ValidateController(mixer.MFCADetails, portA, 1, mixer.DynamicRangeCullA, false, feedback);
    if (interrupted()) return ExitFailed;
    const bool foundB = moirex::ValidateController(mixer.MFCBDetails, portB, 2, mixer.DynamicRangeCullB, true, feedback);
    if (interrupted()) return ExitFailed;
    if (!foundA || !foundB) {
        std::cerr << "moirexctl run: " << (!foundA ? "MFC A (address 1) on " + portA : std::string())
                  << (!foundA && !foundB ? " and " : "") << (!foundB ? "MFC B (address 2) on " + portB : std::string())
                  << ": no mass flow controller found" << std::endl;
        return ExitFailed;
    }

    // Gas selection: a gas the program does not know is refused before the controller is switched.
    std::string error;
    const int tableA = moirex::ChooseGasTable(mixer.MFCADetails, gasA, error);
    if (tableA == 0) {
        std::cerr << "moirexctl run: --gas-a: " << error << std::endl;
        return ExitUsage;
    }
    const int tableB = moirex::ChooseGasTable(mixer.MFCBDetails, gasB, error);
    if (tableB == 0) {
        std::cerr << "moirexctl run: --gas-b: " << error << std::endl;
        return ExitUsage;
    }
    bool unknown = false;
    for (const auto& [details, number, table] :
         {std::tuple{&mixer.MFCADetails, 1, tableA}, std::tuple{&mixer.MFCBDetails, 2, tableB}}) {
        const std::string message = moirex::UnrecognisedGasMessage(*details, number, static_cast<uint32_t>(table));
        if (message.empty()) continue;
        unknown = true;
        std::string text = message;
        for (size_t p; (p = text.find("\r\n")) != std::string::npos;) text.replace(p, 2, "\n");
        std::cerr << text << std::endl;
    }
    if (unknown) {
        std::cerr << "moirexctl run: the gas is not recognized; nothing runs" << std::endl;
        return ExitUsage;
    }
    if (!moirex::SelectGas(mixer.MFCADetails, static_cast<uint32_t>(tableA), "MFC A", feedback) ||
        !moirex::SelectGas(mixer.MFCBDetails, static_cast<uint32_t>(tableB), "MFC B", feedback)) {
        std::cerr << "moirexctl run: a controller did not confirm its gas; nothing runs" << std::endl;
        return ExitFailed;
    }
    if (interrupted()) return ExitFailed;
    mixer.MixerState = moirex::TMixerState::msReady;
    form.RzLEDDisplay1.SetCaption("Stopped");
    feedback("-------------------------------");
    feedback("  Mixer is now properly set up.");

    // The segments, built as the segment editor builds them from the flow editors.
    std::string pumpError;
    if (!moirex::SetUpWaterPump(mixer, syringe, form.RtIntegerEditFluidPPMLimit.Value(), pumpPort, pumpError)) {
        std::cerr << "moirexctl run: " << pumpError << std::endl;
        return ExitFailed;
    }
    Print("");
    Print("Segment program " + programPath + ":");
    std::vector<std::string> refusals;
    for (size_t i = 0; i < program.Segments.size(); ++i) {
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

    // The gas-line question.
    moirex::TIniFile ini(moirex::IniFilePath());
    const std::string oldA = ini.ReadString("History", "OldGasA", "Unknown");
    const std::string oldB = ini.ReadString("History", "OldGasB", "Unknown");
    const std::string nowA = mixer.MFCADetails.LUT[mixer.MFCADetails.ActiveLUT].NameOwn;
    const std::string nowB = mixer.MFCBDetails.LUT[mixer.MFCBDetails.ActiveLUT].NameOwn;
    std::string question = moirex::GasConfirmationQuestion(oldA, nowA, oldB, nowB);
    for (size_t p; (p = question.find("\r\n")) != std::string::npos;) question.replace(p, 2, "\n");
    Print("");
    Print(std::string("== ") + moirex::GasConfirmationCaption);
    Print(question);
    bool yes = args.Flag("--yes");
    if (yes) Print("Confirmed with --yes.");
    else yes = AskTypedYes();
    if (interrupted()) return ExitFailed;
    if (!yes) {
        std::cerr << "moirexctl run: the gases were not confirmed; nothing runs" << std::endl;
        return ExitFailed;
    }
    moirex::LogOld(form.MemoLog, form.MemoSetupFeedback.Text());
    if (!ini.WriteString("History", "OldGasA", nowA) || !ini.WriteString("History", "OldGasB", nowB))
        std::cerr << "moirexctl run: " << ini.LastError() << " (the gas history is not kept)" << std::endl;

    RunSession session(mixer, data.get(), [] { return gSignals.load(); });
    return session.Run();
}

const CommandRegistrar registrar({
    "run",
    "run a segment program on the instruments (or the emulator), without the window",
    "Usage: moirexctl run PROGRAM --pump PORT --mfc-a PORT --mfc-b PORT --gas-a GAS --gas-b GAS\n"
    "                     [--data FILE] [--yes] [--syringe-ul 12.5]\n"
    "\n"
    "Reads the segment program PROGRAM (CSV: name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm; see the\n"
    "README), brings the instruments up as the Setup page does (pump check, MFC A at address 1 and\n"
    "MFC B at address 2, each switched to its gas), asks the gas-line question, then runs the\n"
    "program: Start, the 50 ms tick, and the stop procedure after the last segment. The pump holds\n"
    "water. Every run-log line is printed as it is logged; the display text and the status bar\n"
    "when they change, at most once a second. Ctrl-C, SIGTERM or SIGHUP is the Stop button: every\n"
    "flow is stopped before the tool ends; a second signal does not cut the stop short.\n"
    "\n"
    "  --pump PORT        the syringe pump's serial port\n"
    "  --mfc-a PORT       MFC A's serial port (Modbus address 1)\n"
    "  --mfc-b PORT       MFC B's serial port (Modbus address 2)\n"
    "  --gas-a GAS        MFC A's gas: a gas table number 2 to 11, or its name (N2, Nitrogen ...)\n"
    "  --gas-b GAS        MFC B's gas, the same way\n"
    "  --data FILE        one CSV row per reading of the worker: time stamp, seconds since Start,\n"
    "                     segment, MFCA, SegmentAverage, MFCB, MovingAverage, MovingAverageMinutes\n"
    "  --yes              answer the gas-line question with yes (otherwise type yes)\n"
    "  --syringe-ul UL    the pump's syringe volume in µl (default 12.5)\n"
    "\n"
    "Exit status: 0 after a run whose stop was confirmed; 1 when the instruments could not be\n"
    "brought up or the gases were not confirmed; 2 on bad arguments, a bad program file or a gas\n"
    "the program does not know (nothing runs); 4 when the flows could not be confirmed stopped\n"
    "after a minute of retries (power the mixer off by hand).\n",
    RunRun,
});

}  // namespace
}  // namespace moirexctl

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

#include "BringUp.h"
#include "Command.h"
#include "HeadlessWindow.h"
#include "RunSession.h"
#include "StopSignals.h"
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

void Print(const std::string& line) { std::cout << line << std::endl; }

int RunRun(const std::vector<std::string>& argv) {
    std::vector<OptionSpec> options = BringUpOptions;
    options.insert(options.end(), {{"--data"}, {"--force", false}, {"--stop-retry-s"}});
    const Args args(argv, options);
    args.ExpectPositionals(1, 1);
    const std::string programPath = args.Positionals()[0];
    CheckBringUpOptions(args);
    const double stopRetry = args.Real("--stop-retry-s", 60);
    if (!(stopRetry >= 0) || stopRetry > 86400)
        throw UsageError("--stop-retry-s: seconds from 0 to 86400: " + *args.Value("--stop-retry-s"));
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
        if (StopSignalCount() == 0) return false;
        std::cerr << "moirexctl run: stopped before the run began; no flow was started" << std::endl;
        return true;
    };

    // The window's start-up and Setup page, headless: the configuration file and logging of the
    // window, the ports validated and the gases chosen through the page's own handlers.
    std::optional<bool> answer;
    if (args.Flag("--yes")) answer = true;
    HeadlessWindow window(answer);
    moirex::TMixer& mixer = window.mixer;
    if (const int status = BringUpInstruments(args, window, "run", interrupted); status != ExitOk) return status;

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

    RunSession session(mixer, dataPath, StopSignalCount, FirstStopSignal);
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
    "flow is stopped before the tool ends; a second signal does not cut the stop short. A guardian\n"
    "(moirex-guard) stops the flows should moirexctl die or freeze during the run (see the README).\n"
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
    "limit and the run stopped by itself, every flow confirmed stopped; 7 when this process froze for\n"
    "longer than the guard time and its guardian stopped every flow (confirmed); 1 when the instruments could\n"
    "not be brought up, the gases were not confirmed or Start was refused (nothing runs); 2 on bad\n"
    "arguments, a bad program file or a gas the program does not know (nothing runs); 4 when the\n"
    "flows could not be confirmed stopped after a minute of retries (power the mixer off by hand);\n"
    "6 when every flow was confirmed stopped but the run data file could not be written (instead of\n"
    "0, 5 or 128 + the signal).\n",
    RunRun,
});

}  // namespace
}  // namespace moirexctl

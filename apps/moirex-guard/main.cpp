// moirex-guard: the guardian of one run. Started by the window and by `moirexctl run` at Start;
// it watches the controlling program's heartbeat and, when the program dies or freezes, stops the
// pump and both mass flow controllers and records what it did (core/Guardian.h).

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "core/Guardian.h"
#include "core/GuardianLink.h"
#include "support/DateTime.h"
#include "support/Log.h"
#include "support/Version.h"

namespace {

constexpr const char* kUsage =
    "Usage: moirex-guard --socket-fd N --controller-pid PID --guard-s S --pump PORT --mfc-a PORT --mfc-b PORT\n"
    "                    [--holder NAME] [--address-a 1] [--address-b 2] [--serial-a N] [--serial-b N]\n"
    "                    [--data FILE] [--recipe FILE] [--log FILE] [--note FILE] [--stop-retry-s 60]\n"
    "                    [--inherit LOCKFD:PORTFD:PORT;...]\n"
    "       moirex-guard --help | --version\n"
    "\n"
    "The guardian of a Moirex run, started by moirex, moirexctl run and serve at Start (not by hand).\n"
    "It reads the controlling program's heartbeat on the socket --socket-fd. When the socket ends\n"
    "without the word that the stop procedure has ended (the program died), or no heartbeat comes\n"
    "for --guard-s seconds (it froze), it stops the pump, then MFC A's and MFC B's set-points to 0,\n"
    "each confirmed and each only when it is the instrument validated for the run (the pump by its\n"
    "type, a controller by its serial number),\n"
    "repeats what it could not confirm every second for --stop-retry-s seconds, and writes what it did\n"
    "as the last line of the run data file (--data), a line of the recipe file (--recipe), the log\n"
    "file (--log) and the run's mark (--note) that the next start tells. While the heartbeat comes\n"
    "it speaks to no instrument. --inherit names the controller's claim of the ports (its lock and port\n"
    "descriptors, inherited): the guardian takes it over when it acts, so that it reaches the\n"
    "instruments of a frozen program too. A port that another program holds is never commanded.\n"
    "\n"
    "Exit status: 0 when the run ended with its own stop procedure or every stop was confirmed,\n"
    "1 when a stop could not be confirmed, 2 on bad arguments.\n";

int Usage(const std::string& why) {
    std::cerr << "moirex-guard: " << why << "\n" << kUsage;
    return 2;
}

bool Number(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "--version") {
            std::cout << moirex::VersionLine("moirex-guard") << "\n";
            return 0;
        }
        if (a.rfind("--", 0) != 0 || i + 1 >= argc) return Usage("unexpected argument: " + a);
        o[a] = argv[++i];
    }
    static const char* const known[] = {"--socket-fd", "--controller-pid", "--guard-s", "--stop-retry-s", "--pump",
                                        "--mfc-a", "--mfc-b", "--holder", "--address-a", "--address-b",
                                        "--serial-a", "--serial-b", "--data", "--recipe", "--log", "--note",
                                        "--inherit"};
    for (const auto& [k, v] : o) {
        bool ok = false;
        for (const char* n : known) ok = ok || k == n;
        if (!ok) return Usage("unknown option " + k);
    }
    for (const char* required : {"--socket-fd", "--controller-pid", "--guard-s", "--pump", "--mfc-a", "--mfc-b"})
        if (!o.count(required)) return Usage(std::string(required) + " is missing");

    moirex::TGuardianRun run;
    double fd = -1, pid = 0, guard = 0, retry = 60, addressA = 1, addressB = 2, serialA = 0, serialB = 0;
    if (!Number(o["--socket-fd"], fd) || fd < 0) return Usage("--socket-fd: a descriptor number");
    if (!Number(o["--controller-pid"], pid) || pid <= 0) return Usage("--controller-pid: a process id");
    if (!Number(o["--guard-s"], guard) || !(guard > 0)) return Usage("--guard-s: seconds above 0");
    if (o.count("--stop-retry-s") && (!Number(o["--stop-retry-s"], retry) || !(retry >= 0)))
        return Usage("--stop-retry-s: seconds from 0");
    for (const auto& [option, value] : {std::pair{"--address-a", &addressA}, std::pair{"--address-b", &addressB},
                                        std::pair{"--serial-a", &serialA}, std::pair{"--serial-b", &serialB}})
        if (o.count(option) && (!Number(o[option], *value) || *value < 0 || *value > 4294967295.0))
            return Usage(std::string(option) + ": a whole number");
    run.Holder = o.count("--holder") ? o["--holder"] : "the controlling program";
    run.GuardSeconds = guard;
    run.StopRetrySeconds = retry;
    run.PumpPort = o["--pump"];
    run.PortA = o["--mfc-a"];
    run.PortB = o["--mfc-b"];
    run.AddressA = static_cast<uint32_t>(addressA);
    run.AddressB = static_cast<uint32_t>(addressB);
    run.SerialA = static_cast<uint32_t>(serialA);
    run.SerialB = static_cast<uint32_t>(serialB);
    run.DataFile = o["--data"];
    run.RecipeFile = o["--recipe"];
    run.LogFile = o["--log"];
    run.NoteFile = o["--note"];
    run.ControllerPid = static_cast<int64_t>(pid);
    run.Inherit = o["--inherit"];

    // The controller's end of the socket may already be gone; writing to it must not end us.
    std::signal(SIGPIPE, SIG_IGN);
    // Nothing of the guardian's own goes to a log channel unless it acts.
    moirex::DefaultLogger().Enabled = false;

    const int socket = static_cast<int>(fd);
    const moirex::TWatchEnd end = moirex::WatchController(socket, run.GuardSeconds);
    if (end == moirex::TWatchEnd::weFinished) return 0;

    const moirex::TDateTime when = moirex::Now();
    // Before any instrument is touched: from here on the controller, should it wake up, sends nothing.
    (void)::send(socket, "T", 1, MSG_NOSIGNAL);
    const std::string cause = moirex::GuardianCause(run, static_cast<int64_t>(pid), end);
    std::cerr << "moirex-guard: " << cause << ": stopping the instruments" << std::endl;

    const moirex::TGuardianStop stop = moirex::GuardianStop(run, moirex::SystemClock(), [](const std::string& m) {
        std::cerr << "moirex-guard: " << m << std::endl;
    });
    const std::string account = moirex::GuardianAccount(when, stop);
    moirex::WriteGuardianRecords(run, static_cast<int64_t>(pid), cause, account);
    std::cerr << "moirex-guard: " << account << std::endl;
    const std::string words = std::string(stop.AllConfirmed() ? "C" : "F") + account + "\n";
    (void)::send(socket, words.data(), words.size(), MSG_NOSIGNAL);
    return stop.AllConfirmed() ? 0 : 1;
}

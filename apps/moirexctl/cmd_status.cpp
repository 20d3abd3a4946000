// moirexctl status: who is master of which port on this machine (the window, a moirexctl
// command, the guardian), since when, and the state of the run it drives.

#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Command.h"
#include "devices/PortClaim.h"
#include "support/DateTime.h"

namespace moirexctl {
namespace {

int RunStatus(const std::vector<std::string>& argv) {
    Args args(argv, {{"--json", false}});
    args.ExpectPositionals(0, 0);
    const std::vector<moirex::TClaimRecord> claims = moirex::CurrentClaims();
    if (args.Flag("--json")) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& c : claims)
            out.push_back({{"port", c.Port},
                           {"device", c.Key},
                           {"holder", c.Holder},
                           {"pid", c.Pid},
                           {"user", c.User},
                           {"since", moirex::FormatDateTime("yyyy-mm-dd hh:mm:ss", c.Since)},
                           {"run", c.RunState}});
        std::cout << out.dump(2) << std::endl;
        return ExitOk;
    }
    if (claims.empty()) {
        std::cout << "No port is in use by a Moirex program." << std::endl;
        return ExitOk;
    }
    for (const auto& c : claims) {
        std::cout << c.Port << ": " << c.Holder << " (PID " << c.Pid << ", user " << c.User << ") since "
                  << moirex::FormatDateTime("yyyy-mm-dd hh:mm:ss", c.Since);
        if (!c.RunState.empty()) std::cout << "; run: " << c.RunState;
        std::cout << "\n";
    }
    std::cout.flush();
    return ExitOk;
}

const CommandRegistrar registrar({
    "status",
    "show which program holds which instrument port, and the state of its run",
    "Usage: moirexctl status [--json]\n"
    "\n"
    "Lists every serial port that a Moirex program on this machine holds now (the window after a\n"
    "validation, a moirexctl command, the guardian), for any user: the port, the program, its PID\n"
    "and user, since when, and during a run the run's state. A port held by one program is refused\n"
    "to every other until it lets go or ends.\n"
    "\n"
    "  --json    the same as a JSON array of {port, device, holder, pid, user, since, run}\n"
    "\n"
    "Exit status: 0.\n",
    RunStatus,
});

}  // namespace
}  // namespace moirexctl

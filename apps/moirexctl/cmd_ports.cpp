// moirexctl ports: the serial ports the mixer can use, one a line, as the Setup page lists them.

#include <iostream>

#include "Command.h"
#include "devices/PortList.h"

namespace moirexctl {
namespace {

int RunPorts(const std::vector<std::string>& argv) {
    Args args(argv, {});
    args.ExpectPositionals(0, 0);
    for (const std::string& name : moirex::GetSerialPortList()) std::cout << name << "\n";
    std::cout.flush();
    return ExitOk;
}

const CommandRegistrar portsCommand({
    "ports",
    "list the serial ports (devices with a driver, by-id names, emulator ports)",
    "Usage: moirexctl ports\n"
    "Lists the serial ports, sorted as text: serial devices that have a driver (/dev/ttyUSB0 ...),\n"
    "their stable /dev/serial/by-id names, and the ports a running moirex-sim publishes.\n",
    RunPorts,
});

}  // namespace
}  // namespace moirexctl

#pragma once
// The serial port names the system knows: the serial devices that have a driver, each once, by its
// /dev/serial/by-id name where it has one (that name survives re-plugging) and by its /dev path
// otherwise, and the ports a running instrument emulator publishes as symbolic links in its
// runtime folder.

#include <string>
#include <vector>

namespace moirex {

// Folder where a running emulator publishes its ports as symbolic links named for the
// instrument: $XDG_RUNTIME_DIR/moirex-sim when XDG_RUNTIME_DIR is set and not empty, else
// /tmp/moirex-sim-<uid>. The folder is not created here.
std::string SimRuntimeFolder();

// Where the list is gathered; the defaults are the live system's folders.
struct TPortListSources {
    std::string SysClassTty = "/sys/class/tty";  // <name>/device/driver present -> /dev/<name>
    std::string DevFolder = "/dev";
    std::string ById = "/dev/serial/by-id";
    std::string SimFolder;  // empty: SimRuntimeFolder()
};

// Port names as full paths, sorted case-insensitively as text, without repeats. A missing source
// adds nothing; with no source at all the list is empty.
std::vector<std::string> GetSerialPortList();
std::vector<std::string> GetSerialPortList(const TPortListSources& sources);

}  // namespace moirex

#include "devices/PortList.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>
#include <system_error>

namespace moirex {

namespace fs = std::filesystem;

std::string SimRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') return (fs::path(runtime) / "moirex-sim").string();
    return "/tmp/moirex-sim-" + std::to_string(::getuid());
}

namespace {

// Entries of a folder; nothing when it is missing or unreadable.
std::vector<fs::directory_entry> Entries(const std::string& folder) {
    std::vector<fs::directory_entry> out;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return out;
    for (const auto& entry : it) out.push_back(entry);
    return out;
}

bool LessNoCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::vector<std::string> GetSerialPortList(const TPortListSources& sources) {
    std::set<std::string> names;
    std::error_code ec;

    // Serial devices with a driver behind them; the many virtual consoles have none.
    for (const auto& entry : Entries(sources.SysClassTty)) {
        if (fs::exists(entry.path() / "device" / "driver", ec))
            names.insert((fs::path(sources.DevFolder) / entry.path().filename()).string());
    }
    // Stable names of USB adapters, the same after re-plugging: listed instead of the device they
    // point to, so that each device appears once and the name stored in the configuration
    // survives moving the adapter to another USB socket.
    for (const auto& entry : Entries(sources.ById)) {
        const fs::path target = fs::canonical(entry.path(), ec);
        // A link left behind by an adapter that is gone leads nowhere: not a port.
        if (ec) continue;
        for (auto it = names.begin(); it != names.end();) {
            std::error_code ec2;
            const fs::path same = fs::canonical(*it, ec2);
            it = (!ec2 && same == target) ? names.erase(it) : std::next(it);
        }
        names.insert(entry.path().string());
    }
    // Ports of a running emulator: only links whose pseudo-terminal still exists.
    const std::string sim = sources.SimFolder.empty() ? SimRuntimeFolder() : sources.SimFolder;
    for (const auto& entry : Entries(sim)) {
        if (entry.is_symlink(ec) && fs::exists(entry.path(), ec)) names.insert(entry.path().string());
    }

    std::vector<std::string> list(names.begin(), names.end());
    std::stable_sort(list.begin(), list.end(), LessNoCase);
    return list;
}

std::vector<std::string> GetSerialPortList() { return GetSerialPortList(TPortListSources{}); }

}  // namespace moirex

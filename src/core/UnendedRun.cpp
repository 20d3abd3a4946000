#include "core/UnendedRun.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "devices/PSD4_Interface.h"
#include "devices/PortKey.h"
#include "devices/SerialPortVogtlin.h"
#include "devices/UnitMFC.h"
#include "support/DateTime.h"
#include "support/FileLocations.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

namespace fs = std::filesystem;

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

// True while the process that wrote the mark still runs (on this boot): it is a live run's.
bool StillRunning(const TUnendedRun& run) {
    if (run.Pid <= 0 || run.Boot.empty() || run.Boot != BootId()) return false;
    return ::kill(static_cast<pid_t>(run.Pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::string UnendedRunFolder() { return (fs::path(IniFilePath()).parent_path() / "unended-runs").string(); }

std::string BootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return Trim(id);
}

bool WriteUnendedRun(const TUnendedRun& run) {
    std::ostringstream s;
    s << "Holder=" << OneLine(run.Holder) << "\n"
      << "Pid=" << run.Pid << "\n"
      << "Boot=" << OneLine(run.Boot) << "\n"
      << "Started=" << OneLine(run.Started) << "\n"
      << "Pump=" << OneLine(run.PumpPort) << "\n"
      << "MFCA=" << OneLine(run.PortA) << "\n"
      << "MFCB=" << OneLine(run.PortB) << "\n"
      << "Data=" << OneLine(run.DataFile) << "\n"
      << "Recipe=" << OneLine(run.RecipeFile) << "\n";
    if (!run.Cause.empty()) s << "Cause=" << OneLine(run.Cause) << "\n";
    if (!run.Account.empty()) s << "Account=" << OneLine(run.Account) << "\n";
    // Written beside and renamed, so that a reader never meets half a file.
    const std::string tmp = run.Path + ".new";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << s.str();
        out.flush();
        if (!out) return false;
    }
    std::error_code ec;
    fs::rename(tmp, run.Path, ec);
    return !ec;
}

bool MarkRunUnderWay(TUnendedRun& run, std::string& error) {
    const std::string folder = UnendedRunFolder();
    if (!EnsureFolder(folder, error)) return false;
    run.Boot = BootId();
    run.Path = (fs::path(folder) / ("run-" + std::to_string(run.Pid) + "-" +
                                    FormatDateTime("yyyy-mm-dd-hh-nn-ss-zzz", Now()) + ".txt"))
                   .string();
    if (!WriteUnendedRun(run)) {
        error = "cannot write " + run.Path;
        return false;
    }
    return true;
}

bool ReadUnendedRun(const std::string& path, TUnendedRun& run) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::map<std::string, std::string> v;
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (!v.count("Holder") || !v.count("Pid")) return false;
    run = TUnendedRun{};
    run.Path = path;
    run.Holder = v["Holder"];
    run.Pid = std::atoll(v["Pid"].c_str());
    run.Boot = v["Boot"];
    run.Started = v["Started"];
    run.PumpPort = v["Pump"];
    run.PortA = v["MFCA"];
    run.PortB = v["MFCB"];
    run.DataFile = v["Data"];
    run.RecipeFile = v["Recipe"];
    run.Cause = v["Cause"];
    run.Account = v["Account"];
    return true;
}

void ClearRunMark(const std::string& path) {
    if (path.empty()) return;
    std::error_code ec;
    fs::remove(path, ec);
}

std::vector<TUnendedRun> UnendedRunsOn(const std::vector<std::string>& ports) {
    std::vector<TUnendedRun> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(UnendedRunFolder(), ec)) {
        const std::string path = entry.path().string();
        if (entry.path().extension() != ".txt") continue;
        TUnendedRun run;
        if (!ReadUnendedRun(path, run) || StillRunning(run)) continue;
        bool ours = false;
        for (const std::string& p : ports)
            for (const std::string* q : {&run.PumpPort, &run.PortA, &run.PortB}) ours = ours || SameNamedPort(p, *q);
        if (ours) found.push_back(run);
    }
    return found;
}

TFoundInstruments LookAtInstruments(const TUnendedRun& run) {
    TFoundInstruments found;
    for (const auto& [port, address, read, setPoint] :
         {std::tuple{&run.PortA, 1u, &found.ReadA, &found.SetPointA}, std::tuple{&run.PortB, 2u, &found.ReadB, &found.SetPointB}}) {
        if (port->empty()) continue;
        TVogtlinPort mfc;
        mfc.UseControllerSettings(*port, 50);
        const TSerialResponse r = mfc.ReadF32(address, mfcreg::SetPoint);
        *read = r.Status.empty();
        if (*read) *setPoint = r.AsFloat;
    }
    if (!run.PumpPort.empty()) {
        TPSD4 pump;
        if (pump.Connect(run.PumpPort)) {
            found.ReadPump = true;
            found.PumpBusy = pump.Busy;
        }
    }
    return found;
}

std::vector<std::string> UnendedRunLines(const TUnendedRun& run, const TFoundInstruments& found) {
    const std::string who = run.Holder + ", PID " + std::to_string(run.Pid) + ", started " + run.Started;
    std::vector<std::string> lines;
    if (!run.Account.empty()) {
        lines.push_back("The last run on these ports (" + who + ") did not end by itself: " + run.Cause);
        lines.push_back(run.Account);
    } else {
        lines.push_back("The last run on these ports (" + who +
                        ") did not end, and no guardian could stop it (a power cut, or the guardian ended with it)");
        auto setPoint = [](bool read, float v) {
            return read ? "set-point " + ShortestText(v) + " g/min" + (v != 0 ? " (flowing)" : " (at rest)")
                        : std::string("not read");
        };
        lines.push_back("The instruments were found: MFC A " + setPoint(found.ReadA, found.SetPointA) + ", MFC B " +
                        setPoint(found.ReadB, found.SetPointB) + ", pump " +
                        (found.ReadPump ? (found.PumpBusy ? "busy (dosing)" : "at rest") : "not read"));
    }
    if (!run.DataFile.empty()) lines.push_back("Its run data: " + run.DataFile);
    return lines;
}

}  // namespace moirex

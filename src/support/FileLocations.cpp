#include "support/FileLocations.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>

namespace moirex {

namespace fs = std::filesystem;

namespace {

std::mutex gHomeMutex;
std::string gHomeFolder;
// Set by UseWindowProgramFiles: the folder and name of the window program whose files are used.
std::string gProgramFolder;
std::string gProgramStem;

std::string EnvironmentFolder(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') return {};
    // Relative folders in these variables are not meant to be used.
    if (v[0] != '/') return {};
    return v;
}

std::string UserHome() {
    if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') return h;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
    return "/tmp";
}

// The folder and name whose files are used: the running program's own, unless a companion tool
// chose the window program's.
std::string ProgramFolder() {
    {
        std::lock_guard<std::mutex> lock(gHomeMutex);
        if (!gProgramFolder.empty()) return gProgramFolder;
    }
    return ExecutableFolder();
}

// Files beside the program: only for a build tree or a portable copy whose folder can be written.
bool FilesBesideProgram() {
    const std::string folder = ProgramFolder();
    return !IsInstalledProgramFolder(folder) && ::access(folder.c_str(), W_OK) == 0;
}

std::string ExecutableStem() {
    {
        std::lock_guard<std::mutex> lock(gHomeMutex);
        if (!gProgramStem.empty()) return gProgramStem;
    }
    const std::string path = ExecutablePath();
    if (path.empty()) return "moirex";
    const std::string stem = fs::path(path).stem().string();
    return stem.empty() ? std::string("moirex") : stem;
}

// A folder that is used as it is handed out: create it when it is missing. A failure shows up
// later, when the file in it cannot be written, with the path in the message.
std::string Created(std::string folder) {
    std::string ignored;
    EnsureFolder(folder, ignored);
    return folder;
}

std::string ConfigFolder() {
    if (std::string home = HomeFolder(); !home.empty()) return Created(home);
    if (FilesBesideProgram()) return ProgramFolder();
    return Created(UserConfigFolder());
}

std::string DataFolder() {
    if (std::string home = HomeFolder(); !home.empty()) return Created(home);
    if (FilesBesideProgram()) return ProgramFolder();
    return Created(UserDataFolder());
}

}  // namespace

std::string ExecutablePath() {
    std::error_code ec;
    const fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    if (path.empty()) return ".";
    const std::string folder = fs::path(path).parent_path().string();
    return folder.empty() ? std::string("/") : folder;
}

void UseWindowProgramFiles(const std::string& windowName) {
    const fs::path own = ExecutableFolder();
    std::string folder = own.string();
    std::error_code ec;
    for (const fs::path& candidate : {own, own.parent_path() / windowName}) {
        if (fs::is_regular_file(candidate / windowName, ec)) {
            folder = candidate.lexically_normal().string();
            break;
        }
    }
    UseProgramFiles(folder, windowName);
}

void UseProgramFiles(const std::string& folder, const std::string& name) {
    std::lock_guard<std::mutex> lock(gHomeMutex);
    gProgramFolder = folder;
    gProgramStem = name;
}

bool IsInstalledProgramFolder(const std::string& folder) {
    const std::string f = fs::path(folder).lexically_normal().string();
    for (std::string_view prefix : {"/usr", "/bin", "/sbin"}) {
        if (f.size() >= prefix.size() && f.compare(0, prefix.size(), prefix) == 0 &&
            (f.size() == prefix.size() || f[prefix.size()] == '/'))
            return true;
    }
    return false;
}

std::string ProgramIniFilePath() { return ProgramFolder() + "/" + ExecutableStem() + ".ini"; }

void SetHomeFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(gHomeMutex);
    gHomeFolder = folder;
}

std::string HomeFolder() {
    {
        std::lock_guard<std::mutex> lock(gHomeMutex);
        if (!gHomeFolder.empty()) return gHomeFolder;
    }
    const char* v = std::getenv("MOIREX_HOME");
    return v != nullptr ? std::string(v) : std::string();
}

std::string UserConfigFolder() {
    std::string base = EnvironmentFolder("XDG_CONFIG_HOME");
    if (base.empty()) base = UserHome() + "/.config";
    return base + "/moirex";
}

std::string UserDataFolder() {
    std::string base = EnvironmentFolder("XDG_DATA_HOME");
    if (base.empty()) base = UserHome() + "/.local/share";
    return base + "/moirex";
}

std::string IniFilePath() { return ConfigFolder() + "/" + ExecutableStem() + ".ini"; }

std::string LogFolder() { return DataFolder(); }

std::string UserdataFolder() { return DataFolder() + "/Userdata"; }

bool EnsureFolder(const std::string& folder, std::string& error) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return true;
    fs::create_directories(folder, ec);
    std::error_code ec2;
    if (fs::is_directory(folder, ec2)) return true;
    error = ec ? ec.message() : std::string("not a folder");
    return false;
}

}  // namespace moirex

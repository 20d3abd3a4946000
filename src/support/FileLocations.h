#pragma once
// Where the mixer keeps its files: the configuration file (the executable's name + ".ini"), the
// log files and the `Userdata` folder of recipe files.
//
// An installed program (its folder under a system prefix: /usr/bin, /usr/local/bin, /bin …)
// keeps its configuration file in $XDG_CONFIG_HOME/moirex (default ~/.config/moirex) and the logs
// and `Userdata` in $XDG_DATA_HOME/moirex (default ~/.local/share/moirex), whoever runs it, root
// included: nothing is ever written beside an installed program, where the package manager would
// leave it behind. A build tree or a portable copy (anywhere else) keeps them beside the
// executable when its folder is writable, as on a lab PC where the program runs from its own
// folder, and in the per-user folders when it is not. The per-user folders are created with
// their missing parents when asked for.
//
// A home folder set with SetHomeFolder, or else the environment variable MOIREX_HOME, puts all
// of them into that one folder: tests and tools use it so that they never write beside the
// test program or into the operator's own configuration.

#include <string>

namespace moirex {

// Full path of the running executable (/proc/self/exe); empty when it cannot be read.
std::string ExecutablePath();
// Its folder, without a trailing "/"; the current folder when the path cannot be read.
std::string ExecutableFolder();

// For a companion tool of the window (moirexctl): every location below becomes the window
// program's, so that both share one configuration file, one log folder and one Userdata folder.
// The window program `windowName` is looked for beside the tool, then in the sibling folder of
// that name (the build tree keeps each program in its own folder); when neither holds it, the
// tool's folder is used with the window's file names.
void UseWindowProgramFiles(const std::string& windowName = "moirex");

// True when `folder` (a program's folder, links resolved) lies under a system prefix: /usr and
// everything below it, /bin, /sbin. Such a program is installed; anywhere else it is a build
// tree or a portable copy.
bool IsInstalledProgramFolder(const std::string& folder);

// The files of the program `name` in `folder` (UseWindowProgramFiles finds them); empty texts go
// back to the running program's own.
void UseProgramFiles(const std::string& folder, const std::string& name);

// The configuration file beside the program, whether or not it is the one in use (IniFilePath):
// when the program's folder cannot be written, a file there is read once into the per-user one.
std::string ProgramIniFilePath();

// Sets (non-empty) or clears (empty) the home folder that overrides every location below.
void SetHomeFolder(const std::string& folder);
// The home folder in force: the one set, else $MOIREX_HOME, else empty.
std::string HomeFolder();

// Full path of the configuration file: <folder>/<executable name without extension>.ini.
std::string IniFilePath();
// Folder for the log files.
std::string LogFolder();
// The `Userdata` folder for recipe files (the folder itself is not created here).
std::string UserdataFolder();

// The per-user folders used when the executable's folder is not writable (not created here):
// $XDG_CONFIG_HOME/moirex or ~/.config/moirex, and $XDG_DATA_HOME/moirex or ~/.local/share/moirex.
// A relative XDG variable is ignored.
std::string UserConfigFolder();
std::string UserDataFolder();

// Creates `folder` with its missing parents; true when it exists afterwards. On failure `error`
// holds the reason.
bool EnsureFolder(const std::string& folder, std::string& error);

}  // namespace moirex

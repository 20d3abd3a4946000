#pragma once
// The configuration file (moirex.ini of FileLocations): the syringe constants, the serial ports
// last validated, the logging mode, the graph and average sizes, the controllers' range culls,
// the custom outlet conditions, the fluid designer's last recipe and the fluid limit; and the
// "History" section of the gases last confirmed on the gas lines.
//
// The file is read once at start-up (INILoad) and written after a validation that found both
// controllers and by "Apply and save" (INISaveAndApply). It is UTF-8 text; a save is a sequence of
// single-key writes, so a failure part-way keeps the keys written before it. The window runs the
// writes of a save off its main thread, while it is disabled.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "config/ServiceTools.h"
#include "state/MixerState.h"

namespace moirex {

// Section and key names of the file.
namespace inikeys {
inline constexpr const char* Syringe = "Syringe";
inline constexpr const char* ComPorts = "COM ports";
inline constexpr const char* Logging = "Logging";
inline constexpr const char* LoggingType = "Type[Off|File|Live]";
inline constexpr const char* Graph = "Graph";
inline constexpr const char* Fluid = "Fluid";
inline constexpr const char* History = "History";
inline constexpr const char* Run = "Run";
inline constexpr const char* OutageStop = "Outage stop s";
}  // namespace inikeys

// Shown when the log folder cannot be written while the file asks for logging; logging is then Off.
std::string LoggingFolderMessage(const std::string& folder);

// Reads the file into the mixer state, the window's fields and the fluid designer. A missing file
// or key gives the defaults; when no fluid was ever saved ("Undefined mixture") the designer is
// set to water and "Apply and save" runs, which writes the file on a first start.
void INILoad(TMixer& mixer);

// The C-component caption, then every key in its fixed order. False when a key could not be
// written: "Unable to write to " + the file's path has been shown, the keys written before it
// stay, and the caller ends its action.
bool INISaveAndApply(TMixer& mixer);

// A save taken apart, so that the window writes the file off its main thread (each key reaching
// the disk at once costs the window too long): the keys and values in their fixed order, taken
// from the mixer and the window on the main thread; written one by one on any thread; and its
// outcome told on the main thread. INISaveAndApply is the three in a row.
struct TConfigKey {
    std::string Section;
    std::string Key;
    std::variant<std::string, int64_t, double> Value;
};
using TConfigKeys = std::vector<TConfigKey>;
struct TConfigWriteOutcome {
    bool Ok = true;
    std::string LastError;
    bool ReadFailed = false;  // the existing file could not be read
};
// Sets the C-component caption and returns the keys of the save. Main thread.
TConfigKeys BeginConfigSave(TMixer& mixer);
// Writes the keys in order, each reaching the file at once; the first that fails ends the writes
// there. Touches no window or mixer state: any thread.
TConfigWriteOutcome WriteConfigKeys(const TConfigKeys& keys);
// "IniFileSaved" on FormLogger; or the failure logged and "Unable to write to " + the file's path
// shown. Returns whether the save succeeded. Main thread.
bool EndConfigSave(TMixer& mixer, const TConfigWriteOutcome& outcome);

// "Apply and save": the designed fluid and the syringe volume become the pump's, the file is saved,
// a found pump is re-initialised on its port (through `access`), and the fluid flow's limits and
// pump command follow.
void ButtonApplyPumpAndFluidClick(TMixer& mixer, const TPumpToolAccess& access = {});

// Binds "Apply and save" to its button; `access` must outlive the window. Call once per window.
void BindConfigHandlers(TMixer& mixer, const TPumpToolAccess& access);

// The gases last confirmed on the gas lines ("Unknown" when none).
struct TGasHistory {
    std::string OldGasA = "Unknown";
    std::string OldGasB = "Unknown";
};
TGasHistory ReadGasHistory();
// Stores both names; false (and the error shown) when the file could not be written.
bool WriteGasHistory(TMixer& mixer, const std::string& gasA, const std::string& gasB);
// The same in two steps, for a write off the main thread: the keys, then the outcome told (false,
// with the error shown, when it failed).
TConfigKeys GasHistoryKeys(const std::string& gasA, const std::string& gasB);
bool TellGasHistoryWritten(TMixer& mixer, const TConfigWriteOutcome& outcome);

}  // namespace moirex

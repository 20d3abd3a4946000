#pragma once
// The mark of a run under way, kept until its stop procedure has ended, so that the next start
// on the same ports can tell a run that did not end.
//
// Start writes one small file per run into UnendedRunFolder() (beside the configuration file, so
// that it outlives a power cut, unlike the runtime folder); the end of the stop procedure removes
// it. When the guardian had to stop the instruments it writes its account into that file. The
// next Validate on any of the run's ports (window, `moirexctl setup`, `moirexctl run`) tells it
// once, on the Setup page's feedback, and removes it:
//   - the guardian's account: when, and what it confirmed or could not confirm;
//   - no account (no guardian could act: a power cut, or the guardian was killed with the
//     controller): that the run did not end, with what the instruments were found doing.
// A mark whose process still runs on this boot is some other live run's and is left alone.
//
// Lines of the file are "Key=Value"; values hold no line breaks.

#include <cstdint>
#include <string>
#include <vector>

namespace moirex {

struct TUnendedRun {
    std::string Path;     // the file (not stored in it)
    std::string Holder;   // "moirexctl run", "Moirex window"
    int64_t Pid = 0;
    std::string Boot;     // the kernel's boot id when the run started
    std::string Started;  // "yyyy-mm-dd hh:mm:ss"
    std::string PumpPort, PortA, PortB;
    std::string DataFile, RecipeFile;
    // Written by the guardian: why it acted and the record line of its stop.
    std::string Cause;
    std::string Account;
};

// <folder of the configuration file>/unended-runs
std::string UnendedRunFolder();
// The kernel's boot id (empty when unknown).
std::string BootId();

// Writes the mark of a run; `run.Path` becomes its file. False, with the reason, when it cannot.
bool MarkRunUnderWay(TUnendedRun& run, std::string& error);
// Rewrites the file of `run` (the guardian adds its account). False when it cannot.
bool WriteUnendedRun(const TUnendedRun& run);
// Reads one file; false when it is not a mark.
bool ReadUnendedRun(const std::string& path, TUnendedRun& run);
// Removes the mark: the run's stop procedure has ended.
void ClearRunMark(const std::string& path);

// The marks of ended processes that name any of `ports` (two names of one device count as one).
std::vector<TUnendedRun> UnendedRunsOn(const std::vector<std::string>& ports);

// What the instruments were found doing when a run without account was met.
struct TFoundInstruments {
    bool ReadA = false, ReadB = false, ReadPump = false;
    float SetPointA = 0, SetPointB = 0;  // g/min, as the controller holds them
    bool PumpBusy = false;
};

// Reads what the instruments of `run` are doing (MFC A at address 1, MFC B at 2: their
// set-points; the pump: busy or at rest), before validation puts them at rest.
TFoundInstruments LookAtInstruments(const TUnendedRun& run);

// The feedback lines that tell `run` (found: used only when the run has no account).
std::vector<std::string> UnendedRunLines(const TUnendedRun& run, const TFoundInstruments& found);

}  // namespace moirex

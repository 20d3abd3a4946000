#pragma once
// "Open program..." and "Save program..." of the segment program: a program file opened onto the
// window as if each of its segments had been typed into the editors and added with "Add or Save
// Segment", and the segment program saved to a file that opens again to the same segments.
//
// What happened is told in Memo1 (every correction of a wanted flow, every fault of the file by
// line number); a refusal is also shown as a message box. The window's buttons only ask for the
// path and call these.

#include <string>
#include <string_view>
#include <vector>

#include "core/ProgramFile.h"
#include "state/MixerState.h"
#include "support/DateTime.h"

namespace moirex {

inline constexpr const char* OpenRefusedWhileRunning =
    "Cannot open a program while the segment program is running. Stop it first.";
inline constexpr const char* NothingToSave = "No segment program to save.";

struct TProgramOpenOutcome {
    bool Opened = false;
    // The lines added to Memo1.
    std::vector<std::string> Lines;
    // For each segment of the opened program, the corrections of its wanted flows (empty when the
    // file's flows were taken as they stand). Empty when nothing was opened.
    std::vector<std::vector<std::string>> Corrections;
};

// True while a run is under way (msOperating, msStopping), when opening a program is refused; the
// refusal is then told as OpenProgramText tells it. The window asks this before the file dialog.
bool OpenProgramRefused(TMixer& mixer);

// Opens the program held in `text` (read from `name`, which the messages show). Refused while a
// run is under way (msOperating, msStopping). Each segment is built against the controllers'
// active gas tables and the pump as "Add or Save Segment" builds it; when the file has a bad line,
// or a segment cannot be stored, nothing changes: the segment program, its list and the editors
// stay as they were. On success the opened segments replace the program. Either way the editors
// keep what the operator had in them.
TProgramOpenOutcome OpenProgramText(TMixer& mixer, std::string_view text, const std::string& name);
// The same for the file at `path`; a file that cannot be read is refused the same way.
TProgramOpenOutcome OpenProgramFile(TMixer& mixer, const std::string& path);

// One segment of the program as a line of the program file: its comment, duration, the flows it
// doses (µg/min) and its pump command.
TProgramSegment ProgramFileSegment(const TGasItem& segment);
// The program file text of the segment program, with comment lines naming when it was saved
// (`now`), the three components and the syringe.
std::string ProgramFileText(const TMixer& mixer, TDateTime now);
// Writes the segment program to `path` (a whole new file or none: an old file is kept when the
// write fails). Refused with NothingToSave when the program is empty. A failure is shown as an
// error message box ("Could not write file ..."); success is told in Memo1.
bool SaveProgramFile(TMixer& mixer, const std::string& path, TDateTime now);

}  // namespace moirex

#pragma once
// The segment program file: one segment a line in CSV, the format `moirexctl run` reads and the
// window's segment program opens and saves.
//
//   # comment lines begin with "#"; empty lines are skipped
//   name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm,pump_command
//   Flush,0.25,0,20000,0,TR
//   "Dry, then wet",0.5,1500,20000,3000.29,gIV6000A24000OV24A0GR
//
// The header line comes first (after comments); it names five or six columns, and every segment
// line has as many fields. The five-column header without pump_command is the first form of the
// file, still read as before. Fields are separated by commas, blanks around a field are ignored;
// a field in double quotes may hold commas and blanks, a double quote in it written twice.
// name: the segment's comment, any text without TAB or line break; empty becomes "ID:" + the
// segment's 1-based number, as the segment editor names an unnamed segment. hours: the duration,
// a number >= 0 with "." as decimal separator. gas_a_ugpm, gas_b_ugpm: the wanted flows of gas A
// and gas B, whole µg/min >= 0. fluid_ugpm: the fluid flow in µg/min >= 0. pump_command: empty, or
// the pump command chosen for that flow when the program was saved (one the pump speed function
// makes); it is kept when it still doses fluid_ugpm with the pump of the day, otherwise the
// command is chosen anew from fluid_ugpm.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace moirex {

// Sizes beyond any real program, refused with their line number: a segment name longer than
// this many bytes, a duration of more hours, a fluid flow above this many µg/min, more segments;
// and a file longer than this many bytes is not read at all.
inline constexpr size_t ProgramNameMaxBytes = 1000;
inline constexpr double ProgramHoursMax = 100000;
inline constexpr double ProgramFluidMax_ugpm = 1e12;
inline constexpr size_t ProgramSegmentsMax = 100000;
inline constexpr size_t ProgramFileMaxBytes = 64u << 20;

// The header this program writes, and the first form of the file without the pump command.
inline constexpr std::string_view ProgramFileHeader = "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm,pump_command";
inline constexpr std::string_view ProgramFileHeaderWithoutCommand = "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm";

struct TProgramSegment {
    std::string Name;     // never empty after reading: "ID:n" for an unnamed segment
    double Hours = 0;
    int64_t GasA_ugpm = 0;
    int64_t GasB_ugpm = 0;
    double Fluid_ugpm = 0;
    size_t Line = 0;      // 1-based line of the file it came from (0 when not read from a file)
    std::string PumpCommand;  // empty: chosen from Fluid_ugpm
};

struct TProgramFileResult {
    std::vector<TProgramSegment> Segments;
    // One text per fault, "line N: what is wrong"; when not empty the program must not run and
    // Segments is empty.
    std::vector<std::string> Errors;
    bool Ok() const { return Errors.empty(); }
};

// Reads the program from the file's text. Every bad line is reported, not only the first.
TProgramFileResult ParseProgramFile(std::string_view text);

// Reads the file at `path`; a file that cannot be read is one error naming it and the reason.
TProgramFileResult ReadProgramFile(const std::string& path);

// The file text of a program: the comment lines given (each gets its "# "), the header, then one
// line per segment (LF line ends). Numbers are written with "." whatever the user's decimal
// separator, in the shortest text that reads back as the same value. A name with a comma, a double
// quote, blanks at its ends or a "#" first is written in double quotes; TAB and line breaks, which a name
// cannot hold, become blanks.
std::string FormatProgramFile(const std::vector<TProgramSegment>& segments,
                              const std::vector<std::string>& comments = {});

}  // namespace moirex

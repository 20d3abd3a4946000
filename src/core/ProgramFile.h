#pragma once
// The segment program file: one segment a line in CSV, the format `moirexctl run` reads and the
// window's segment program loads and saves.
//
//   # comment lines begin with "#"; empty lines are skipped
//   name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm
//   Flush,0.25,0,20000,0
//   ,0.5,1500,20000,3000
//
// The header line comes first (after comments). Fields are separated by commas, blanks around a
// field are ignored. name: free text without comma, double quote or TAB; empty becomes "ID:" +
// the segment's 1-based number, as the segment editor names an unnamed segment. hours: the
// duration, a number >= 0 with "." as decimal separator. gas_a_ugpm, gas_b_ugpm: the wanted flows
// of gas A and gas B, whole µg/min >= 0. fluid_ugpm: the wanted fluid flow in µg/min >= 0 (the
// pump speed function turns it into a command and an achievable flow).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace moirex {

inline constexpr std::string_view ProgramFileHeader = "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm";

struct TProgramSegment {
    std::string Name;     // never empty after reading: "ID:n" for an unnamed segment
    double Hours = 0;
    int64_t GasA_ugpm = 0;
    int64_t GasB_ugpm = 0;
    double Fluid_ugpm = 0;
    size_t Line = 0;      // 1-based line of the file it came from (0 when not read from a file)
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

// The file text of a program: the header, then one line per segment (LF line ends). Numbers are
// written with "." whatever the user's decimal separator, in the shortest text that reads back
// as the same value. A name the file format cannot hold (comma, double quote, TAB, line break) has
// those characters replaced by blanks.
std::string FormatProgramFile(const std::vector<TProgramSegment>& segments);

}  // namespace moirex

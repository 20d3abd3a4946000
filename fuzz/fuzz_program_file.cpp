// The segment program file reader: any text. A program that reads without errors is written out
// and read again: it must come back the same.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ProgramFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const moirex::TProgramFileResult first = moirex::ParseProgramFile(text);
    if (!first.Ok()) {
        if (!first.Segments.empty()) __builtin_trap();
        return 0;
    }
    const moirex::TProgramFileResult again = moirex::ParseProgramFile(moirex::FormatProgramFile(first.Segments));
    if (!again.Ok() || again.Segments.size() != first.Segments.size()) __builtin_trap();
    for (size_t i = 0; i < first.Segments.size(); ++i) {
        const auto& a = first.Segments[i];
        const auto& b = again.Segments[i];
        if (a.Hours != b.Hours || a.GasA_ugpm != b.GasA_ugpm || a.GasB_ugpm != b.GasB_ugpm || a.Fluid_ugpm != b.Fluid_ugpm ||
            a.PumpCommand != b.PumpCommand)
            __builtin_trap();
        // A name comes back as it was, but for a carriage return inside it, which is written as a blank.
        if (a.Name.find('\r') == std::string::npos && a.Name != b.Name) __builtin_trap();
    }
    return 0;
}

// Reading and writing the segment program file.

#include "core/ProgramFile.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <system_error>

#include "support/TextFormat.h"

namespace moirex {
namespace {

std::vector<std::string> SplitFields(std::string_view line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(Trim(line.substr(start)));
            return fields;
        }
        fields.push_back(Trim(line.substr(start, comma - start)));
        start = comma + 1;
    }
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ShortestText(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

}  // namespace

TProgramFileResult ParseProgramFile(std::string_view text) {
    TProgramFileResult result;
    // A UTF-8 byte order mark, as some spreadsheet programs write one.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    bool headerSeen = false;
    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view raw = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') {
            if (end == text.size()) break;
            continue;
        }
        const std::string where = "line " + std::to_string(lineNumber) + ": ";

        if (!headerSeen) {
            headerSeen = true;
            std::string compact;
            for (const std::string& f : SplitFields(line)) compact += (compact.empty() ? "" : ",") + f;
            if (compact != ProgramFileHeader)
                result.Errors.push_back(where + "expected the header line \"" + std::string(ProgramFileHeader) +
                                        "\", found " + Quoted(line));
            if (end == text.size()) break;
            continue;
        }

        const std::vector<std::string> f = SplitFields(line);
        if (f.size() != 5) {
            result.Errors.push_back(where + "expected 5 fields (" + std::string(ProgramFileHeader) + "), found " +
                                    std::to_string(f.size()) + ": " + Quoted(line));
            if (end == text.size()) break;
            continue;
        }

        TProgramSegment s;
        s.Line = lineNumber;
        std::vector<std::string> faults;
        s.Name = f[0];
        if (s.Name.find('"') != std::string::npos || s.Name.find('\t') != std::string::npos)
            faults.push_back("name " + Quoted(s.Name) + " may not hold a double quote or a TAB");

        double hours = 0;
        if (!ParseReal(f[1], hours)) faults.push_back("hours " + Quoted(f[1]) + " is not a number (use \".\" as decimal separator)");
        else if (hours < 0) faults.push_back("hours " + Quoted(f[1]) + " cannot be negative");
        else s.Hours = hours;

        const char* gasNames[2] = {"gas_a_ugpm", "gas_b_ugpm"};
        int64_t* gasFlows[2] = {&s.GasA_ugpm, &s.GasB_ugpm};
        for (int g = 0; g < 2; ++g) {
            int64_t v = 0;
            const std::string& field = f[2 + g];
            if (!ParseInteger(field, v))
                faults.push_back(std::string(gasNames[g]) + " " + Quoted(field) + " is not a whole number of µg/min");
            else if (v < 0)
                faults.push_back(std::string(gasNames[g]) + " " + Quoted(field) + " cannot be negative");
            else if (v > 1000000000000)  // a million g/min: no controller comes near
                faults.push_back(std::string(gasNames[g]) + " " + Quoted(field) + " is beyond any controller's range");
            else
                *gasFlows[g] = v;
        }

        double fluid = 0;
        if (!ParseReal(f[4], fluid)) faults.push_back("fluid_ugpm " + Quoted(f[4]) + " is not a number (use \".\" as decimal separator)");
        else if (fluid < 0) faults.push_back("fluid_ugpm " + Quoted(f[4]) + " cannot be negative");
        else s.Fluid_ugpm = fluid;

        for (const std::string& fault : faults) result.Errors.push_back(where + fault);
        if (faults.empty()) result.Segments.push_back(std::move(s));
        if (end == text.size()) break;
    }

    if (!headerSeen) result.Errors.push_back("the file holds no header line \"" + std::string(ProgramFileHeader) + "\"");
    else if (result.Errors.empty() && result.Segments.empty()) result.Errors.push_back("the file holds no segment");

    if (!result.Errors.empty()) {
        result.Segments.clear();
        return result;
    }
    for (size_t i = 0; i < result.Segments.size(); ++i)
        if (result.Segments[i].Name.empty()) result.Segments[i].Name = "ID:" + std::to_string(i + 1);
    return result;
}

TProgramFileResult ReadProgramFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        TProgramFileResult r;
        r.Errors.push_back("cannot read " + Quoted(path) + ": " + std::error_code(errno, std::generic_category()).message());
        return r;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        TProgramFileResult r;
        r.Errors.push_back("cannot read " + Quoted(path));
        return r;
    }
    return ParseProgramFile(text.str());
}

std::string FormatProgramFile(const std::vector<TProgramSegment>& segments) {
    std::string out(ProgramFileHeader);
    out += "\n";
    for (const TProgramSegment& s : segments) {
        std::string name = s.Name;
        for (char& c : name)
            if (c == ',' || c == '"' || c == '\t' || c == '\r' || c == '\n') c = ' ';
        out += Trim(name) + "," + ShortestText(s.Hours) + "," + std::to_string(s.GasA_ugpm) + "," +
               std::to_string(s.GasB_ugpm) + "," + ShortestText(s.Fluid_ugpm) + "\n";
    }
    return out;
}

}  // namespace moirex

// Reading and writing the segment program file.

#include "core/ProgramFile.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "model/PumpSpeedFunction.h"
#include "support/TextFormat.h"

namespace moirex {
namespace {

// The fields of one line: unquoted fields trimmed, quoted fields as written between the quotes
// (a doubled quote standing for one). False, with `fault` set, on a quote that does not belong.
bool SplitFields(std::string_view line, std::vector<std::string>& fields, std::string& fault) {
    fields.clear();
    size_t pos = 0;
    while (true) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        std::string field;
        if (pos < line.size() && line[pos] == '"') {
            ++pos;
            bool closed = false;
            while (pos < line.size()) {
                if (line[pos] == '"') {
                    if (pos + 1 < line.size() && line[pos + 1] == '"') {
                        field += '"';
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    closed = true;
                    break;
                }
                field += line[pos++];
            }
            if (!closed) {
                fault = "field " + std::to_string(fields.size() + 1) + " opens a double quote that is never closed";
                return false;
            }
            while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
            if (pos < line.size() && line[pos] != ',') {
                fault = "field " + std::to_string(fields.size() + 1) + " has text after its closing double quote";
                return false;
            }
        } else {
            const size_t comma = line.find(',', pos);
            const std::string_view raw = line.substr(pos, comma == std::string_view::npos ? line.npos : comma - pos);
            if (raw.find('"') != std::string_view::npos) {
                fault = "field " + std::to_string(fields.size() + 1) +
                        " holds a double quote: put the whole field in double quotes and write the quote twice";
                return false;
            }
            field = Trim(raw);
            pos = comma == std::string_view::npos ? line.size() : comma;
        }
        fields.push_back(std::move(field));
        if (pos >= line.size()) return true;
        ++pos;  // the comma
    }
}

std::string JoinFields(const std::vector<std::string>& fields) {
    std::string joined;
    for (const std::string& f : fields) joined += (joined.empty() ? "" : ",") + f;
    return joined;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

TProgramFileResult ParseProgramFile(std::string_view text) {
    TProgramFileResult result;
    // A UTF-8 byte order mark, as some spreadsheet programs write one.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    bool headerSeen = false;
    size_t columns = 0;  // of the header, once it was read
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

        std::vector<std::string> f;
        std::string splitFault;
        const bool split = SplitFields(line, f, splitFault);

        if (!headerSeen) {
            headerSeen = true;
            const std::string compact = split ? JoinFields(f) : std::string();
            if (compact == ProgramFileHeader) columns = 6;
            else if (compact == ProgramFileHeaderWithoutCommand) columns = 5;
            else
                result.Errors.push_back(where + "expected the header line \"" + std::string(ProgramFileHeader) +
                                        "\" (or without \",pump_command\"), found " + Quoted(line));
            if (end == text.size()) break;
            continue;
        }

        if (!split) {
            result.Errors.push_back(where + splitFault + ": " + Quoted(line));
            if (end == text.size()) break;
            continue;
        }
        if (columns != 0 && f.size() != columns) {
            const std::string_view header = columns == 6 ? ProgramFileHeader : ProgramFileHeaderWithoutCommand;
            result.Errors.push_back(where + "expected " + std::to_string(columns) + " fields (" + std::string(header) +
                                    "), found " + std::to_string(f.size()) + ": " + Quoted(line));
            if (end == text.size()) break;
            continue;
        }
        if (columns == 0) {  // the header was refused: its fault is told, the lines cannot be read
            if (end == text.size()) break;
            continue;
        }

        TProgramSegment s;
        s.Line = lineNumber;
        std::vector<std::string> faults;
        s.Name = f[0];
        if (s.Name.size() > ProgramNameMaxBytes) {
            faults.push_back("name of " + std::to_string(s.Name.size()) + " bytes is longer than " +
                             std::to_string(ProgramNameMaxBytes));
            s.Name.clear();
        } else if (s.Name.find('\t') != std::string::npos) {
            faults.push_back("name " + Quoted(s.Name) + " may not hold a TAB");
        }

        double hours = 0;
        if (!ParseReal(f[1], hours)) faults.push_back("hours " + Quoted(f[1]) + " is not a number (use \".\" as decimal separator)");
        else if (hours < 0) faults.push_back("hours " + Quoted(f[1]) + " cannot be negative");
        else if (hours > ProgramHoursMax)
            faults.push_back("hours " + Quoted(f[1]) + " is more than " + FormatGeneral(ProgramHoursMax));
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
        else if (fluid > ProgramFluidMax_ugpm) faults.push_back("fluid_ugpm " + Quoted(f[4]) + " is beyond any pump's range");
        else s.Fluid_ugpm = fluid;

        if (columns == 6 && !f[5].empty()) {
            // Only a command the pump speed function makes is ever sent from a file.
            TPumpSpeedDetails any;
            any.Init();
            double rate = 0;
            if (!PumpCommandDispense(any, f[5], rate))
                faults.push_back("pump_command " + Quoted(f[5]) + " is not a command this program chooses");
            else
                s.PumpCommand = f[5];
        }

        if (faults.empty() && result.Segments.size() == ProgramSegmentsMax) {
            result.Errors.push_back(where + "more than " + std::to_string(ProgramSegmentsMax) + " segments");
            break;
        }
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
    std::error_code ec;
    if (const auto size = std::filesystem::file_size(path, ec); !ec && size > ProgramFileMaxBytes) {
        TProgramFileResult r;
        r.Errors.push_back("cannot read " + Quoted(path) + ": " + std::to_string(size) + " bytes, more than a program file of " +
                           std::to_string(ProgramFileMaxBytes) + " bytes");
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

std::string FormatProgramFile(const std::vector<TProgramSegment>& segments, const std::vector<std::string>& comments) {
    std::string out;
    for (std::string c : comments) {
        for (char& ch : c)
            if (ch == '\r' || ch == '\n') ch = ' ';
        out += "# " + c + "\n";
    }
    out += ProgramFileHeader;
    out += "\n";
    for (const TProgramSegment& s : segments) {
        std::string name = s.Name;
        for (char& c : name)
            if (c == '\t' || c == '\r' || c == '\n') c = ' ';
        // Quoted also when it begins with "#", which would make the line a comment.
        const bool quote = name.find_first_of(",\"") != std::string::npos ||
                           (!name.empty() && (name.front() == ' ' || name.back() == ' ' || name.front() == '#'));
        if (quote) {
            std::string q = "\"";
            for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
            name = q + "\"";
        }
        out += name + "," + ShortestText(s.Hours) + "," + std::to_string(s.GasA_ugpm) + "," +
               std::to_string(s.GasB_ugpm) + "," + ShortestText(s.Fluid_ugpm) + "," + s.PumpCommand + "\n";
    }
    return out;
}

}  // namespace moirex

#include "support/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "support/ReplaceFile.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

// One line of the file as it stands, with its own line end ("\r\n", "\n" or none at the end).
struct TLine {
    std::string Text;
    std::string End;
};

struct TContent {
    std::string Bom;  // a UTF-8 byte-order mark the file began with, kept when it is rewritten
    std::vector<TLine> Lines;
    std::string LineEnd = "\r\n";  // the file's own; a new file gets CR LF like the other texts
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return r;
}

// Lines end with CR LF, LF or a lone CR (old Mac editors); each line keeps its own end.
TContent Split(const std::string& data) {
    TContent content;
    size_t start = 0;
    if (data.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) {
        content.Bom = std::string(kUtf8Bom);
        start = kUtf8Bom.size();
    }
    bool endSeen = false;
    while (start < data.size()) {
        const size_t brk = data.find_first_of("\r\n", start);
        TLine line;
        if (brk == std::string::npos) {
            line.Text = data.substr(start);
            start = data.size();
        } else {
            const size_t endLength = data.compare(brk, 2, "\r\n") == 0 ? 2 : 1;
            line.Text = data.substr(start, brk - start);
            line.End = data.substr(brk, endLength);
            start = brk + endLength;
            if (!endSeen) {
                content.LineEnd = line.End;
                endSeen = true;
            }
        }
        content.Lines.push_back(std::move(line));
    }
    return content;
}

// The section name of a header line, or nothing when the line is not a header.
std::optional<std::string> SectionOf(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const size_t close = t.find(']');
    return Lower(Trim(std::string_view(t).substr(1, close == std::string::npos ? std::string::npos : close - 1)));
}

// The key of an entry line (lower case), or nothing for blank, comment and other lines.
std::optional<std::string> KeyOf(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    const size_t eq = text.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return Lower(Trim(std::string_view(text).substr(0, eq)));
}

struct TPlace {
    std::optional<size_t> Entry;    // line of the key
    std::optional<size_t> Section;  // header line of the first section of that name
    size_t SectionLast = 0;         // last non-blank line of that section
};

TPlace Find(const TContent& content, std::string_view section, std::string_view key) {
    const std::string s = Lower(Trim(section));
    const std::string k = Lower(Trim(key));
    TPlace place;
    bool inside = false;         // in a section of that name (a later duplicate counts for reading)
    bool insideFirst = false;    // in the first section of that name, where new keys go
    for (size_t i = 0; i < content.Lines.size(); ++i) {
        const std::string& text = content.Lines[i].Text;
        if (const auto header = SectionOf(text)) {
            inside = *header == s;
            insideFirst = inside && !place.Section;
            if (insideFirst) {
                place.Section = i;
                place.SectionLast = i;
            }
            continue;
        }
        if (!inside) continue;
        if (insideFirst && !Trim(text).empty()) place.SectionLast = i;
        if (const auto entryKey = KeyOf(text); entryKey && *entryKey == k && !place.Entry) place.Entry = i;
    }
    return place;
}

// Reads the whole file. Nothing when it does not exist; false when it exists but cannot be read.
bool Load(const std::string& fileName, std::optional<std::string>& data, std::string& error) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        const int err = errno;
        std::error_code ec;
        if (!std::filesystem::exists(fileName, ec) && !ec) {
            data.reset();
            return true;
        }
        error = std::strerror(err);
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        error = "read error";
        return false;
    }
    data = buffer.str();
    return true;
}

// An existing file may be written: its mode grants writing to someone and this user may write it.
bool Writable(const std::string& fileName, std::string& error) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        error = "the file is read-only";
        return false;
    }
    if (::access(fileName.c_str(), W_OK) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

std::string OneLine(std::string_view value) {
    std::string v(value);
    for (char& c : v) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return v;
}

std::string CutValue(std::string value) {
    if (value.size() <= TIniFile::MaxValueLength) return value;
    size_t cut = TIniFile::MaxValueLength;
    // Do not split a UTF-8 character: back off to its first byte.
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    value.resize(cut);
    return value;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : fFileName(std::move(fileName)) {}

bool TIniFile::Readable(std::string& error) const {
    std::optional<std::string> data;
    std::string reason;
    if (Load(fFileName, data, reason)) return true;
    error = "Unable to read " + fFileName + ": " + reason;
    return false;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const {
    std::optional<std::string> data;
    std::string error;
    if (!Load(fFileName, data, error) || !data) return std::string(defaultValue);
    const TContent content = Split(*data);
    const TPlace place = Find(content, section, key);
    if (!place.Entry) return std::string(defaultValue);
    const std::string& text = content.Lines[*place.Entry].Text;
    return CutValue(Trim(std::string_view(text).substr(text.find('=') + 1)));
}

int64_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int64_t defaultValue) const {
    const std::string text = ReadString(section, key, "");
    int64_t value = 0;
    return ParseInteger(text, value, true) ? value : defaultValue;
}

double TIniFile::ReadFloat(std::string_view section, std::string_view key, double defaultValue) const {
    const std::string text = ReadString(section, key, "");
    double value = 0;
    return ParseReal(text, value) ? value : defaultValue;
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    fLastError.clear();
    fReadFailed = false;
    const std::string s = Trim(section);
    const std::string k = Trim(key);
    auto fail = [this](const std::string& reason) {
        fLastError = "Unable to write to " + fFileName + ": " + reason;
        return false;
    };
    if (s.empty() || s.find_first_of("]\r\n") != std::string::npos) return fail("invalid section name");
    if (k.empty() || k.find_first_of("=\r\n") != std::string::npos || k.front() == '[' || k.front() == ';') {
        return fail("invalid key name");
    }

    std::optional<std::string> data;
    std::string error;
    if (!Load(fFileName, data, error)) {
        fReadFailed = true;
        fLastError = "Unable to read " + fFileName + ": " + error;
        return false;
    }
    // A file made read-only is kept as it is, though its folder would let a rename replace it
    // (and root could write it anyway).
    if (data && !Writable(fFileName, error)) return fail(error);
    TContent content = data ? Split(*data) : TContent{};
    const std::string v = OneLine(value);
    const TPlace place = Find(content, s, k);

    if (place.Entry) {
        TLine& line = content.Lines[*place.Entry];
        line.Text = line.Text.substr(0, line.Text.find('=') + 1) + v;
    } else if (place.Section) {
        TLine& after = content.Lines[place.SectionLast];
        if (after.End.empty()) after.End = content.LineEnd;
        content.Lines.insert(content.Lines.begin() + static_cast<std::ptrdiff_t>(place.SectionLast) + 1,
                             TLine{k + "=" + v, content.LineEnd});
    } else {
        if (!content.Lines.empty()) {
            if (content.Lines.back().End.empty()) content.Lines.back().End = content.LineEnd;
            if (!Trim(content.Lines.back().Text).empty()) content.Lines.push_back(TLine{"", content.LineEnd});
        }
        content.Lines.push_back(TLine{"[" + s + "]", content.LineEnd});
        content.Lines.push_back(TLine{k + "=" + v, content.LineEnd});
    }

    std::string out = content.Bom;
    for (const TLine& line : content.Lines) {
        out += line.Text;
        out += line.End;
    }
    if (!ReplaceFileContents(fFileName, out, error)) return fail(error);
    return true;
}

bool TIniFile::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
    return WriteString(section, key, FormatGeneral(value));
}

}  // namespace moirex

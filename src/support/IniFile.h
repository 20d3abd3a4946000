#pragma once
// The configuration file service: an INI text file of section lines ("[Syringe]") and entry lines
// ("Steps=24000").
//
// - Section and key names match without regard to letter case, surrounding blanks ignored; values
//   are read with surrounding blanks removed and at most 2047 characters of a value are read.
// - A missing file or key gives the caller's default. Reading never creates the file.
// - Writing a key replaces its value in place, or appends the key at the end of its section (the
//   section goes to the end of the file when absent); every other line stays as it was, line ends
//   included. Each write reaches the file at once: the whole file is rewritten through a temporary
//   file in the same folder and renamed over the old one, so a crash never leaves half a file.
// - A value holding CR or LF is written with each of them replaced by a blank, so a value can
//   never break its line or plant keys of its own.
// - Integers are written in decimal and read in decimal or, when longer than two characters and
//   beginning with "0x"/"0X", in hexadecimal; reals are written in the general number format and
//   read with "." as the decimal separator; a value that does not parse gives the default.
// - A UTF-8 byte-order mark at the start is skipped (and kept on a rewrite); lines end with CR LF,
//   LF or a lone CR.
// - A write that fails returns false and leaves the reason in LastError(); the file is then
//   unchanged. The caller tells the operator "Unable to write to " + FileName().

#include <cstdint>
#include <string>
#include <string_view>

namespace moirex {

class TIniFile {
public:
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return fFileName; }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    int64_t ReadInteger(std::string_view section, std::string_view key, int64_t defaultValue) const;
    double ReadFloat(std::string_view section, std::string_view key, double defaultValue) const;

    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int64_t value);
    bool WriteFloat(std::string_view section, std::string_view key, double value);

    // Why the last failed write failed ("Unable to write to <file>: <reason>", or "Unable to read
    // <file>: <reason>" when the file exists but could not be read); empty after a write that
    // succeeded. A file without any write permission is not replaced ("the file is read-only").
    const std::string& LastError() const { return fLastError; }
    // True when the last write failed because the existing file could not be read.
    bool LastErrorWasRead() const { return fReadFailed; }

    // False, with "Unable to read <file>: <reason>", when the file exists but cannot be read (a
    // read then gives the defaults). A missing file is readable: it holds no keys.
    bool Readable(std::string& error) const;

    // Longest value text a read returns.
    static constexpr size_t MaxValueLength = 2047;

private:
    std::string fFileName;
    std::string fLastError;
    bool fReadFailed = false;
};

}  // namespace moirex

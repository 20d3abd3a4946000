// The configuration file reader: any file text, looked up with section and key names taken from
// the input too. The file lives in a private temporary folder, in memory where the system has
// one (the writer syncs every file it writes).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/IniFile.h"

namespace {

const std::string& FilePath() {
    static const std::string path = [] {
        char shm[] = "/dev/shm/moirex-fuzz-ini-XXXXXX";
        char tmp[] = "/tmp/moirex-fuzz-ini-XXXXXX";
        const char* folder = ::mkdtemp(shm);
        if (folder == nullptr) folder = ::mkdtemp(tmp);
        if (folder == nullptr) std::abort();
        return std::string(folder) + "/fuzz.ini";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Input: section NUL key NUL file text.
    std::string_view in(reinterpret_cast<const char*>(data), size);
    const size_t a = in.find('\0');
    const size_t b = a == std::string_view::npos ? a : in.find('\0', a + 1);
    std::string_view section = a == std::string_view::npos ? "Syringe" : in.substr(0, a);
    std::string_view key = b == std::string_view::npos ? "Steps" : in.substr(a + 1, b - a - 1);
    std::string_view text = b == std::string_view::npos ? in : in.substr(b + 1);

    FILE* f = std::fopen(FilePath().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);

    moirex::TIniFile ini(FilePath());
    const std::string value = ini.ReadString(section, key, "default");
    if (value.size() > moirex::TIniFile::MaxValueLength) __builtin_trap();
    ini.ReadInteger(section, key, -1);
    ini.ReadFloat(section, key, -1.0);
    // A written value reads back as written (CR and LF become blanks), and the file stays
    // readable.
    const std::string written(key.substr(0, 40));
    if (!section.empty() && !key.empty() && section.find_first_of("[]\r\n") == std::string_view::npos &&
        key.find_first_of("=\r\n;[") == std::string_view::npos && key.find_first_not_of(' ') != std::string_view::npos &&
        key.front() != ' ' && key.back() != ' ' && section.front() != ' ' && section.back() != ' ') {
        if (ini.WriteString(section, key, "12345")) {
            if (ini.ReadInteger(section, key, -1) != 12345) __builtin_trap();
        }
    }
    return 0;
}

#include "support/Version.h"

#ifndef MOIREX_VERSION
#error "MOIREX_VERSION is set by the build (CMake's project version)"
#endif

namespace moirex {

std::string_view ProjectVersion() { return MOIREX_VERSION; }

std::string VersionLine(std::string_view program) {
    std::string line(program);
    line += ' ';
    line += ProjectVersion();
    return line;
}

}  // namespace moirex

#pragma once
// The project's version: the one set in the top CMakeLists.txt (project(moirex VERSION ...)).
// Every program's --version, the recipe file and the run data file take it from here; the
// package and the AppStream metainfo take it from CMake directly. The window's caption keeps its
// own version text (ProgramVersion of state/MixerState.h): the mixer program's release and date,
// as operators know it from the caption.
//
// Only support/Version.cpp sees the number, so a new version rebuilds one file.

#include <string>
#include <string_view>

namespace moirex {

// "0.1.0"
std::string_view ProjectVersion();

// The line a program's --version prints: "moirexctl 0.1.0".
std::string VersionLine(std::string_view program);

}  // namespace moirex

#pragma once
// Replacing a file's whole contents at once: the text goes into a temporary file in the same
// folder, is synced, and is renamed over the old file, so a crash or a full disk leaves either the
// old file or the new one, never half of one. A file that is a symbolic link stays one (the file
// it points to is replaced); a replaced file keeps its permissions.

#include <string>

namespace moirex {

// True when `path` holds `data`; otherwise `error` holds the system's reason and the old file (if
// any) is unchanged.
bool ReplaceFileContents(const std::string& path, const std::string& data, std::string& error);

}  // namespace moirex

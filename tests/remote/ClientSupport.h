#pragma once
// What the node tests share: the SECoP client connection and a prefix check.

#include <string>

#include "remote/SecopClient.h"

namespace moirex::testing_remote {

using SecopClient = secop::TClient;

inline bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace moirex::testing_remote

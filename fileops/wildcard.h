// Windows file name patterns as directory listings apply them: "*" any run of
// characters, "?" one character, letters of either case alike, and a pattern
// ending in ".*" also taking names without a dot ("*.*" takes every name).
#pragma once

#include <string>

namespace dovrane::fileops {

// pattern in Windows-1252 (as callers keep it), name native (UTF-8).
bool MatchesWildcard(const std::string& pattern, const std::string& name);

}  // namespace dovrane::fileops

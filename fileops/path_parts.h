// Splitting and joining the paths the file operations are given. A path is
// either in its Windows form (\\HOST\share\x, X:\x, or any path with a
// backslash), joined with backslashes, or native (/x/y), joined with slashes.
// Both are mapped to native paths only at the file-system calls.
#pragma once

#include <string>
#include <vector>

namespace dovrane::fileops {

bool IsWindowsForm(const std::string& path);

// dir + separator + name, with the separator of dir's form.
std::string JoinPath(const std::string& dir, const std::string& name);

// The path cut at its last separator ("" when it has none).
std::string ParentPath(const std::string& path);

// The directory chain of dir: every prefix, one component longer each time.
// A network path's first prefix is "\\HOST" (the server), the second
// "\\HOST\share"; a drive path's first is "X:". *fixed tells how many leading
// prefixes are never created (server and share, or the drive).
std::vector<std::string> DirectoryChain(const std::string& dir, size_t* fixed);

}  // namespace dovrane::fileops

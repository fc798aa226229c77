// The total for a progress display: the sizes of the files below a folder.
#pragma once

#include <cstdint>
#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::fileops {

// Sum of the sizes of every file in directory whose name matches pattern
// (Windows wildcards; callers pass "*.*"), and with recurse non-zero of every
// such file in the subfolders that match the pattern, at any depth. Names
// beginning with "." are not counted; a folder that cannot be listed counts 0.
// A link to a file counts that file's size (as an SMB client sees it); links
// to folders are not followed. The context's cancel is polled before every
// entry; a cancelled sum returns kPrjInterrupted (no size is negative). The
// folder is reached through the context's installation (its Env and path map).
[[nodiscard]] int64_t SumDirectorySize(extlib::OperationContext& ctx, const std::string& directory,
                                       const std::string& pattern, int recurse);

}  // namespace dovrane::fileops

// Deleting a folder tree, asking Retry or Cancel for whatever resists.
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::fileops {

// Deletes every file and subfolder of directory and the folder itself. A file
// that cannot be deleted asks the file error message with UI text (3, 3)
// (Retry, Cancel); a folder that cannot be removed asks
// "Can't delete (%s)!\n\n%s" (Retry, Cancel). Returns true when the folder
// is gone (or was never there), false when a question was cancelled (what
// resisted and the folders above it stay). Links are removed, never followed;
// names beginning with "." are deleted like any other. `window` is not used:
// the questions have no owner. The context's messenger asks the questions; its
// cancel is polled between entries, and a cancelled deletion stops there and
// returns false as a Cancel does.
bool DeleteDirectoryTree(extlib::OperationContext& ctx, void* window, const std::string& directory);

}  // namespace dovrane::fileops

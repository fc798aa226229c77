// A whole folder copied file by file through the copy engine, for the copy of
// a project to another host: the operation's progress counts the bytes, its
// cancel is polled at every block, and a copy that does not finish leaves
// nothing behind.
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::fileops {

// Copies the folder from -> to (native paths; to must not exist): folders,
// files through CopyFileWithSplit, symbolic links as links. An entry of
// another kind (pipe, socket, device) fails the copy with -EOPNOTSUPP. The
// progress runs counted over the bytes of from. 0, -ECANCELED when the person
// cancelled, or -errno (the copy engine showed the reason); on failure the
// partial copy is removed.
[[nodiscard]] int CopyFolder(extlib::OperationContext& ctx, const std::string& from, const std::string& to);

}  // namespace dovrane::fileops

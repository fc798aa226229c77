// Whole folder trees through the platform Env: size, copy, verify, remove.
// The library's own helpers for moving projects between hosts; native paths.
#pragma once

#include <cstdint>
#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::extlib {

// Sum of the file sizes below dir. 0 or -errno.
[[nodiscard]] int TreeSize(extlib::OperationContext& ctx, const std::string& dir, uint64_t* bytes);
// Copies the tree from -> to (to must not exist): folders, files and symbolic
// links (as links), with their modes and times. An entry of another kind
// (pipe, socket, device) fails the copy with -EOPNOTSUPP. 0 or -errno; on
// failure the partial copy is removed.
[[nodiscard]] int CopyTree(OperationContext& ctx, const std::string& from, const std::string& to);
// 0 when every entry below a has its equal below b: a folder, a file of the
// same content, a link holding the same text.
[[nodiscard]] int VerifyTree(OperationContext& ctx, const std::string& a, const std::string& b);
// Removes dir and everything below it. 0 or -errno (a missing dir is 0).
[[nodiscard]] int RemoveTree(OperationContext& ctx, const std::string& dir);

}  // namespace dovrane::extlib

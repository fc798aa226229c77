// The network identifier of an installation: a 32-bit value in \Net\net.id
// (the folder of path slot 23). Each project folder stores the identifier of
// the administration that registered it, so a project brought from another
// installation is recognised. 0 means "not set"; 1 is the identifier of every
// single-workstation installation.
#pragma once

#include <cstdint>
#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::extlib {

inline constexpr char kNetIdFileName[] = "net.id";
// A damaged net.id is kept under this name before a new identifier replaces it.
inline constexpr char kNetIdDamagedFileName[] = "net.id.damaged";

// The identifier, with the reason when there is none: 0, -ENOENT (no file or
// slot 23 unset), -EBADMSG (the file is damaged) or another -errno.
[[nodiscard]] int NetID_Load(extlib::OperationContext& ctx, uint32_t* id);
// The installation's identifier; 0 when not set or when net.id is damaged.
// Reading never writes.
uint32_t get_PRJVekNetID(OperationContext& ctx);
// A new random identifier, never 0 and never 1 (the single-workstation value).
uint32_t NetID_Make();
// Stores id (non-zero) in \Net\net.id, crash-safe. A damaged file there is
// first kept as net.id.damaged. 0 or -errno.
[[nodiscard]] int NetID_Save(OperationContext& ctx, uint32_t id);

// The file's text for id, and its parser (0 or -EBADMSG): for tests and tools.
std::string FormatNetIdFile(uint32_t id);
[[nodiscard]] int ParseNetIdFile(const std::string& text, uint32_t* id);

}  // namespace dovrane::extlib

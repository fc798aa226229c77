// The check-out information file of one project: in the \Net folder, named
// like the project's folder with the extension ".out".
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

// Deletes the check-out information file of the project whose folder (or link
// file) is entry_path, when there is one; its attributes are set to normal
// first, as for every file the system marks. 0 (also when there was none),
// or -errno when it stays.
[[nodiscard]] int DeleteProjectCheckoutFile(extlib::OperationContext& ctx, const std::string& entry_path);

// Removes what writes of project check-out information files cut short (a
// crash, a share that stopped answering) left in \Net: regular files named
// exactly "n0000012.out.new~<digits>". A check-out marks its record before it
// writes the file, so one goes only while the record numbered so carries no
// check-out mark and its host is not going out, judged under the record's
// lock (or when no record has that number). Returns how many were removed, or
// -errno when \Net cannot be listed.
[[nodiscard]] int RemoveCheckoutFileTemporaries(extlib::OperationContext& ctx);

}  // namespace dovrane::admin

// The check-out information file of one project: in the \Net folder, named
// like the project's folder with the extension ".out".
#pragma once

#include <string>

namespace dovrane::admin {

// Deletes the check-out information file of the project whose folder (or link
// file) is entry_path, when there is one; its attributes are set to normal
// first, as for every file the system marks. 0 (also when there was none),
// or -errno when it stays.
[[nodiscard]] int DeleteProjectCheckoutFile(const std::string& entry_path);

}  // namespace dovrane::admin

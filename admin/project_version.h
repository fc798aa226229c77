// The project version that a project folder's version.txt names.
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::admin {

inline constexpr char kVersionFile[] = "version.txt";

// Points slot at the project folder dir (Windows form) and reads the first
// number of its version.txt, as "%d" reads it. Only a regular file of small
// size is read. false when the slot cannot be set, the file is missing or
// unreadable, or it starts with no number.
bool ReadProjectVersion(extlib::OperationContext& ctx, int slot, const std::string& dir, int* version);

}  // namespace dovrane::admin

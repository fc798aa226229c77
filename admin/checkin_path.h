// -checkin path: registers one project folder (or link file) of a host's
// project folder in the administration.
#pragma once

#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::admin {

// path: Windows form, or a native path (below the UNC root it is taken as
// its Windows form; a relative one is taken from the current folder).
// 0 when the entry was registered, 1 or a library error otherwise.
[[nodiscard]] int CheckinProjectPath(extlib::OperationContext& ctx, const std::string& path);

// The absolute form of a typed path (see above), without trailing separator;
// "" when it cannot be made.
std::string AbsoluteCheckinPath(extlib::OperationContext& ctx, const std::string& path);

}  // namespace dovrane::admin

// The commands on a project's own data: reorganising it, renewing its
// objects' unique identifiers and reloading its attributes from the disk
// cache. Each takes the padded project name.
#pragma once

#include "extlib/projects/project_code.h"

#include <string>

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::app {

// Under the project's record lock. 0, -1 (the library showed why), or the
// lookup's or lock's code.
[[nodiscard]] extlib::ProjectCode ReorganiseProject(extlib::OperationContext& ctx, const std::string& padded_name);
// Reorganises and then gives every object a new unique identifier.
[[nodiscard]] extlib::ProjectCode RenewProjectUuids(extlib::OperationContext& ctx, const std::string& padded_name);
// 0, the lookup's code, or -1 when the import failed.
[[nodiscard]] extlib::ProjectCode UpdateProjectAttributes(extlib::OperationContext& ctx,
                                                          const std::string& padded_name);

}  // namespace dovrane::app

// Moving a project to another host: its folder goes to the target host's
// project folder and its record names the new host. The record is locked for
// the whole move, and it never names a folder that is gone.
#pragma once

#include "extlib/projects/project_code.h"

#include <string>

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::app {

// 0, or -1, -3, -4, -5, -6, -7 or a library code; every failure is shown once.
// Asks no question.
[[nodiscard]] extlib::ProjectCode MoveProject(extlib::OperationContext& ctx, const std::string& padded_name,
                                              const std::string& host);

// Checks that a host is in the host list and its project folder can be
// reached, with the messages of a move. *host_name becomes the host's name as
// the host list spells it, *host_path its project folder. 0, the lookup's
// code, or -6.
[[nodiscard]] extlib::ProjectCode CheckHostReachable(extlib::OperationContext& ctx, const std::string& host,
                                                     std::string* host_name, std::string* host_path);

}  // namespace dovrane::app

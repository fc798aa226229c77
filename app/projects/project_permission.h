// What a project must allow before it is moved, erased or renamed: it is not
// private, the administration knows it, the user has the owner's rights, and
// it is not checked out (its work goes on on a laptop, and the check-in would
// find it gone or elsewhere).
#pragma once

#include "extlib/projects/project_code.h"

#include <string>

#include "extlib/records/prj_record.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::app {

// 0 with the project's record, else the code, shown once: a private project
// gives the warning "Can't <verb> a private project." and private_code, a
// failed lookup or missing owner rights their own code.
// A checked-out project is refused with a message saying where it is:
// -18 checked out with its host, -22 checked out alone.
[[nodiscard]] extlib::ProjectCode CheckMayChangeProject(extlib::OperationContext& ctx, const std::string& padded_name,
                                                        const char* verb, int private_code, extlib::PRJ* record);
// Only the check-out part: 0, or the code after the message.
[[nodiscard]] extlib::ProjectCode CheckNotCheckedOut(extlib::OperationContext& ctx, const extlib::PRJ& record,
                                                     const char* verb);

}  // namespace dovrane::app

// Project error codes and their report.
#pragma once

#include <string>

#include "extlib/projects/project_code.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::app {

// The codes are the library's; the app reports them and makes them exit statuses.
using enum extlib::ProjectCode;

// The exit status of an operation's result: a project code, or 1 (an
// operation's own failure, such as a refused question) as it is; any other
// value, which no operation should pass on, as a general failure, so that a
// script never reads a system error number as a project's answer.
[[nodiscard]] int ExitStatusOf(int result);

// The fixed text of a code, or "" for the codes reported by a language notice.
std::string ProjectErrorText(int code);
// Shows the code's text as a warning ("%s\n"), or for -6, -7, -18 and -22 the
// language notice.
void ReportProjectError(extlib::OperationContext& ctx, int code);

}  // namespace dovrane::app

// The report of a hardware fault that reached the top of the program.
#pragma once

#include <string>

#include "platform/crash_signals.h"

namespace dovrane::app {

// The text shown for a fault.
std::string ExceptionText(const platform::CrashInfo& info);
// Shows the text (caption "Exception Information", error icon) and decides:
// 1 for an access violation (the program ends with status 1), 0 otherwise.
int ExceptionReport(const platform::CrashInfo& info);

}  // namespace dovrane::app

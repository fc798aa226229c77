// The report of a hardware fault that reached the top of the program.
#pragma once

#include <cstddef>
#include <string>

#include "platform/crash_signals.h"

namespace dovrane::app {

// Room for the longest text with two 64-bit addresses.
inline constexpr size_t kExceptionTextSize = 512;

// Writes the text shown for a fault into out (size bytes, terminated, cut when
// it does not fit) and returns its length. Async-signal-safe.
size_t FormatExceptionText(const platform::CrashInfo& info, char* out, size_t size);
// The same text as a string, for callers outside the crash handler.
std::string ExceptionText(const platform::CrashInfo& info);
// The crash reporter: writes the text on a line of its own to the terminal's
// standard error and decides: 1 for an access violation (the program ends
// with status 1), 0 otherwise. It runs inside the signal handler, so it only
// writes, also when the main window is up: no message box can be shown there.
[[nodiscard]] int ExceptionReport(const platform::CrashInfo& info);

}  // namespace dovrane::app

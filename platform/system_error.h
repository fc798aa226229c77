#pragma once

#include <string>

namespace dovrane::platform {

// The system's text for an error number (errno value, sign ignored), or
// "Windows Error Message: %d" when the system has no text for it. The result
// lives in a buffer of 1024 bytes of the calling thread until that thread's
// next call, as callers expect; another thread's calls leave it alone.
const char* SystemErrorText(int error);
// The text of the calling thread's last error (errno).
const char* LastSystemErrorText();

}  // namespace dovrane::platform

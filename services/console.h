// The progress console of long command-line runs: lines on the terminal,
// headed by the console's title.
#pragma once

namespace dovrane::services {

inline constexpr long kInvalidConsole = -1;

// Opens the console and shows its title; returns its handle.
long lfConsoleCreate(const char* title);
// Writes formatted text (up to 1024 bytes) to the console. Returns the number
// of characters written; 0 for the handle 0 (no console) and nothing at all
// for the invalid handle.
int lfConsoleWrite(long handle, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace dovrane::services

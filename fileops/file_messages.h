// The message boxes of the file operations: every box carries the program's
// caption, comes to the foreground and is task-modal; questions go through the
// operation's messenger (terminal, or dialogs in the main window).
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::fileops {

// Shows text with flags (buttons and icon, platform/messenger.h) through the
// operation's messenger; returns the box result, 0 when nobody could answer.
// While the file-access trace is on, the text is echoed into it as every
// other box of the program is.
int FileBox(extlib::OperationContext& ctx, unsigned flags, const std::string& text);
// printf-style text, at most 2048 bytes.
int FileBoxF(extlib::OperationContext& ctx, unsigned flags, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// UI text (group, item) of the UI text table with the "#"-separated arguments
// (or null), copied at once (the table reuses its buffer).
std::string FileOpsUiText(int group, unsigned item, const char* args);

// The file error message: UI text (3, item) with the path, an empty line and
// the system error text of error (errno value, sign ignored).
std::string FileErrorMessage(unsigned item, const std::string& path, int error);

}  // namespace dovrane::fileops

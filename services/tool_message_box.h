#pragma once

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::services {

inline constexpr int kMessageWarning = 0;
inline constexpr int kMessageError = 1;
inline constexpr int kMessageInformation = 2;

// Formats the text with the printf rules and shows it whole with the
// program's caption: kind 1 error, 2 information, any other warning. While the
// file-access trace is on, the text is also written to the trace. Returns the
// message box result (0: it could not be shown).
int ToolMessageBox(extlib::OperationContext& ctx, int kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The same with extra button flags (kMbYesNo, ...) for questions; an icon
// among the flags (kMbIconQuestion) replaces the kind's icon.
int ToolQuestionBox(extlib::OperationContext& ctx, int kind, unsigned buttons, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace dovrane::services

#pragma once

namespace dovrane::services {

inline constexpr int kMessageWarning = 0;
inline constexpr int kMessageError = 1;
inline constexpr int kMessageInformation = 2;

// Formats the text with the printf rules and shows it whole with the
// program's caption: kind 1 error, 2 information, any other warning. While the
// file-access trace is on, the text is also written to the trace. Returns the
// message box result (0: it could not be shown).
int ToolMessageBox(int kind, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The same with extra button flags (kMbYesNo, ...) for questions; an icon
// among the flags (kMbIconQuestion) replaces the kind's icon.
int ToolQuestionBox(int kind, unsigned buttons, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace dovrane::services

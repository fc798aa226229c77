// The message library: whether the libraries show their own message boxes,
// notices by text number, and progress notices.
#pragma once

#include <string>

namespace dovrane::extlib {

class OperationContext;

// The caption of every message box of the program.
inline constexpr char kCaption[] = "Varnholtek Dovranix";

// The icon of a message kind: 1 error, 2 information, any other warning.
unsigned MessageKindIcon(int kind);
// The one way every message box of the program is shown: with the caption,
// echoed into the file-access trace while it is on, through the operation's
// messenger. flags: buttons, icon and modality (platform/messenger.h).
// Returns the box result (0: nobody could answer).
int ShowMessage(OperationContext& ctx, const std::string& text, unsigned flags);

// Non-zero switches the libraries' own message boxes of the operation off;
// returns the previous state (non-zero: they were off), which the caller
// restores.
int Msg2usr_Switch(OperationContext& ctx, int off);

// A library's own message box (kind as ToolMessageBox: 1 error, 2 information,
// else warning), shown unless the operation switched them off. Returns the box
// result.
int LibraryMessage(OperationContext& ctx, int kind, const std::string& text);

// The language text (number, line 1) as a notice.
int hinweisBox(OperationContext& ctx, long text_number, int flags);
// Shows the language text (number, line 1) as a progress notice; returns its
// handle, or 0 when none could be shown.
[[nodiscard]] long sendGuiMessageInProcess(OperationContext& ctx, long text_number, int flags);
void cancelGuiMessageInProcess(OperationContext& ctx, long handle);

}  // namespace dovrane::extlib

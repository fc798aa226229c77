#include "extlib/installation/messages.h"

#include "extlib/installation/general.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "platform/messenger.h"

namespace dovrane::extlib {

// The switch is the running operation's: a lookup on one thread does not
// silence another operation's messages.
int Msg2usr_Switch(OperationContext& ctx, int off) {
  int previous = ctx.library_messages ? 0 : 1;
  ctx.library_messages = off == 0;
  return previous;
}

namespace {
void Trace(OperationContext& ctx, const std::string& text) {
  if (FileAccessTraceOn()) lfperrC(ctx, "%s:\n\t%s\n", kCaption, text.c_str());
}
}  // namespace

unsigned MessageKindIcon(int kind) {
  return kind == 1 ? platform::kMbIconError : kind == 2 ? platform::kMbIconInformation : platform::kMbIconWarning;
}

int ShowMessage(OperationContext& ctx, const std::string& text, unsigned flags) {
  Trace(ctx, text);
  return ctx.Messenger().MessageBox(text, kCaption, flags);
}

int LibraryMessage(OperationContext& ctx, int kind, const std::string& text) {
  // Switched off, the text still reaches the trace.
  if (!ctx.library_messages) {
    Trace(ctx, text);
    return 0;
  }
  return ShowMessage(ctx, text, MessageKindIcon(kind) | platform::kMbTaskModal);
}

int hinweisBox(OperationContext& ctx, long text_number, int) {
  return LibraryMessage(ctx, 2, LanguageText(text_number, 1));
}

long sendGuiMessageInProcess(OperationContext& ctx, long text_number, int) {
  return ctx.Messenger().ShowProgressNotice(LanguageText(text_number, 1));
}

void cancelGuiMessageInProcess(OperationContext& ctx, long handle) {
  if (handle) ctx.Messenger().CloseProgressNotice(handle);
}

}  // namespace dovrane::extlib

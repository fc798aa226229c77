#include "extlib/installation/messages.h"

#include "extlib/installation/general.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "platform/messenger.h"

namespace dovrane::extlib {

// The switch is the running operation's: a lookup on one thread does not
// silence another operation's messages.
int Msg2usr_Switch(int off) {
  OperationContext& context = ActiveContext();
  int previous = context.library_messages ? 0 : 1;
  context.library_messages = off == 0;
  return previous;
}

bool LibraryMessagesEnabled() { return ActiveContext().library_messages; }

namespace {
void Trace(const std::string& text) {
  if (FileAccessTraceOn()) lfperrC("%s:\n\t%s\n", kCaption, text.c_str());
}
}  // namespace

unsigned MessageKindIcon(int kind) {
  return kind == 1 ? platform::kMbIconError : kind == 2 ? platform::kMbIconInformation : platform::kMbIconWarning;
}

int ShowMessage(const std::string& text, unsigned flags) { return ShowMessage(ActiveContext(), text, flags); }

int ShowMessage(OperationContext& ctx, const std::string& text, unsigned flags) {
  Trace(text);
  return ctx.Messenger().MessageBox(text, kCaption, flags);
}

int LibraryMessage(int kind, const std::string& text) {
  // Switched off, the text still reaches the trace.
  if (!LibraryMessagesEnabled()) {
    Trace(text);
    return 0;
  }
  return ShowMessage(text, MessageKindIcon(kind) | platform::kMbTaskModal);
}

int hinweisBox(long text_number, int) { return LibraryMessage(2, LanguageText(text_number, 1)); }

long sendGuiMessageInProcess(long text_number, int) {
  return ActiveContext().Messenger().ShowProgressNotice(LanguageText(text_number, 1));
}

void cancelGuiMessageInProcess(long handle) {
  if (handle) ActiveContext().Messenger().CloseProgressNotice(handle);
}

}  // namespace dovrane::extlib

#include "extlib/messages.h"

#include "extlib/general.h"
#include "extlib/installation.h"
#include "extlib/language.h"
#include "platform/messenger.h"

namespace dovrane::extlib {

int Msg2usr_Switch(int off) { return CurrentInstallation().messages_off.exchange(off != 0) ? 1 : 0; }

bool LibraryMessagesEnabled() { return !CurrentInstallation().messages_off; }

namespace {
void Trace(const std::string& text) {
  if (FileAccessTraceOn()) lfperrC("%s:\n\t%s\n", kCaption, text.c_str());
}
}  // namespace

unsigned MessageKindIcon(int kind) {
  return kind == 1 ? platform::kMbIconError : kind == 2 ? platform::kMbIconInformation : platform::kMbIconWarning;
}

int ShowMessage(const std::string& text, unsigned flags) {
  Trace(text);
  return platform::CurrentMessenger()->MessageBox(text, kCaption, flags);
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
  return platform::CurrentMessenger()->ShowProgressNotice(LanguageText(text_number, 1));
}

void cancelGuiMessageInProcess(long handle) {
  if (handle) platform::CurrentMessenger()->CloseProgressNotice(handle);
}

}  // namespace dovrane::extlib

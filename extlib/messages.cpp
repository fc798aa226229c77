#include "extlib/messages.h"

#include "extlib/general.h"
#include "extlib/language.h"
#include "platform/messenger.h"

namespace dovrane::extlib {

namespace {
bool g_library_messages_off = false;
}

int Msg2usr_Switch(int off) {
  int previous = g_library_messages_off ? 1 : 0;
  g_library_messages_off = off != 0;
  return previous;
}

bool LibraryMessagesEnabled() { return !g_library_messages_off; }

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
  if (g_library_messages_off) {
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

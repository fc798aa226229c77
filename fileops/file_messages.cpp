#include "fileops/file_messages.h"

#include <cstdarg>
#include <cstdio>

#include "extlib/general.h"
#include "extlib/messages.h"
#include "platform/messenger.h"
#include "platform/system_error.h"

namespace dovrane::fileops {

namespace {
UiTextFunction g_ui_text = nullptr;
}  // namespace

int FileBox(unsigned flags, const std::string& text) {
  if (extlib::getFileAccessTrace()) extlib::lfperrC("%s:\n\t%s\n", extlib::kCaption, text.c_str());
  return platform::CurrentMessenger()->MessageBox(
      text, extlib::kCaption, flags | platform::kMbTaskModal | platform::kMbSetForeground);
}

int FileBoxF(unsigned flags, const char* format, ...) {
  char text[2048];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  return FileBox(flags, text);
}

UiTextFunction SetUiTextFunction(UiTextFunction lookup) {
  UiTextFunction previous = g_ui_text;
  g_ui_text = lookup;
  return previous;
}

std::string FileOpsUiText(int group, unsigned item, const char* args) {
  if (g_ui_text) {
    const char* text = g_ui_text(group, item, args);
    if (text) return text;
  }
  // Not connected (a library test, or a program that forgot): name the key and
  // keep the arguments, so no message loses its path.
  char key[48];
  std::snprintf(key, sizeof key, "(%d, %u)", group, item);
  return std::string(key) + (args && *args ? std::string(" ") + args : std::string());
}

std::string FileErrorMessage(unsigned item, const std::string& path, int error) {
  return FileOpsUiText(3, item, path.c_str()) + "\n\n" + platform::SystemErrorText(error);
}

}  // namespace dovrane::fileops

#include "app/tool_message_box.h"

#include <cstdarg>
#include <cstdio>

#include "app/app_state.h"
#include "extlib/general.h"
#include "platform/messenger.h"

namespace dovrane::app {

namespace {

int Show(int kind, unsigned buttons, const char* format, va_list ap) {
  char text[2048];
  std::vsnprintf(text, sizeof text, format, ap);
  unsigned icon = kind == kMessageError         ? platform::kMbIconError
                  : kind == kMessageInformation ? platform::kMbIconInformation
                                                : platform::kMbIconWarning;
  if (extlib::getFileAccessTrace()) extlib::lfperrC("%s:\n\t%s\n", g_caption, text);
  return platform::CurrentMessenger()->MessageBox(
      text, g_caption, buttons | icon | platform::kMbTaskModal | platform::kMbSetForeground);
}

}  // namespace

int ToolMessageBox(int kind, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = Show(kind, platform::kMbOk, format, ap);
  va_end(ap);
  return r;
}

int ToolQuestionBox(int kind, unsigned buttons, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = Show(kind, buttons, format, ap);
  va_end(ap);
  return r;
}

}  // namespace dovrane::app

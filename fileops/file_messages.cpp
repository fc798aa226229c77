#include "fileops/file_messages.h"

#include <cstdarg>
#include <cstdio>

#include "extlib/installation/general.h"
#include "extlib/installation/messages.h"
#include "platform/messenger.h"
#include "platform/system_error.h"
#include "services/ui_text_table.h"

namespace dovrane::fileops {

int FileBox(extlib::OperationContext& ctx, unsigned flags, const std::string& text) {
  return extlib::ShowMessage(ctx, text, flags | platform::kMbTaskModal | platform::kMbSetForeground);
}

int FileBoxF(extlib::OperationContext& ctx, unsigned flags, const char* format, ...) {
  char text[2048];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  return FileBox(ctx, flags, text);
}

std::string FileOpsUiText(int group, unsigned item, const char* args) {
  return services::LookupUiText(group, item, args);
}

std::string FileErrorMessage(unsigned item, const std::string& path, int error) {
  return FileOpsUiText(3, item, path.c_str()) + "\n\n" + platform::SystemErrorText(error);
}

}  // namespace dovrane::fileops

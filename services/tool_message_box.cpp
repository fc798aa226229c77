#include "services/tool_message_box.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "platform/messenger.h"

namespace dovrane::services {

namespace {

int Show(extlib::OperationContext& ctx, int kind, unsigned buttons, const char* format, va_list ap) {
  // Long texts (the member list of a large installation) are shown whole.
  va_list measure;
  va_copy(measure, ap);
  int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text(needed > 0 ? static_cast<size_t>(needed) : 0, '\0');
  if (needed > 0) std::vsnprintf(text.data(), text.size() + 1, format, ap);
  unsigned icon = buttons & platform::kMbIconMask;
  if (!icon) icon = extlib::MessageKindIcon(kind);
  buttons &= ~platform::kMbIconMask;
  return extlib::ShowMessage(ctx, text, buttons | icon | platform::kMbTaskModal | platform::kMbSetForeground);
}

}  // namespace

int ToolMessageBox(extlib::OperationContext& ctx, int kind, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = Show(ctx, kind, platform::kMbOk, format, ap);
  va_end(ap);
  return r;
}

int ToolQuestionBox(extlib::OperationContext& ctx, int kind, unsigned buttons, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = Show(ctx, kind, buttons, format, ap);
  va_end(ap);
  return r;
}

}  // namespace dovrane::services

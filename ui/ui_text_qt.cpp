#include "ui/ui_text_qt.h"

#include "platform/text_codec.h"
#include "services/ui_text_table.h"

namespace dovrane::ui {

QString FromCp1252(const std::string& text) { return QString::fromStdString(platform::Cp1252ToUtf8(text)); }

QString UiQText(int group, unsigned item, const char* args) {
  return FromCp1252(services::LookupUiText(group, item, args));
}

}  // namespace dovrane::ui

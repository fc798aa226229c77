#include "services/qt_text_qt.h"

#include "platform/text_codec.h"
#include "services/ui_text_table.h"

namespace dovrane::services {

QString FromCp1252(const std::string& text) { return QString::fromStdString(platform::Cp1252ToUtf8(text)); }

bool ToCp1252(const QString& text, std::string* out) {
  out->clear();
  if (platform::Utf8ToCp1252(text.toStdString(), out)) return true;
  // Character by character (whole code points, not halves of a pair).
  out->clear();
  bool whole = true;
  for (char32_t c : text.toStdU32String()) {
    std::string one;
    if (platform::Utf8ToCp1252(QString::fromUcs4(&c, 1).toStdString(), &one)) {
      *out += one;
    } else {
      *out += '?';
      whole = false;
    }
  }
  return whole;
}

QString UiQText(int group, unsigned item, const char* args) {
  return FromCp1252(LookupUiText(group, item, args));
}

}  // namespace dovrane::services

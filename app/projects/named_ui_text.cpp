#include "app/projects/named_ui_text.h"

#include "extlib/installation/language.h"
#include "services/ui_text_table.h"

namespace dovrane::app {

std::string NamedUiText(int group, unsigned item, const std::string& value) {
  if (value.find('#') == std::string::npos) return services::LookupUiText(group, item, value.c_str());
  // The table would split the value at "#": ask the language library directly.
  for (const services::UiTextRecord& r : services::UiTextTable())
    if (r.group == group && r.item == static_cast<int32_t>(item) && r.text_number > 0)
      return extlib::LanguageText(r.text_number, r.line, " " + value + "\x1E");
  return services::LookupUiText(group, item, value.c_str());
}

}  // namespace dovrane::app

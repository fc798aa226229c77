// UI texts (Windows-1252 in the table) as the widgets show them.
#pragma once

#include <QString>
#include <string>

namespace dovrane::ui {

QString FromCp1252(const std::string& text);
// The text of UI text (group, item); the window's thread only.
QString UiQText(int group, unsigned item, const char* args = nullptr);

}  // namespace dovrane::ui

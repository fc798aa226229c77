// The window's one boundary between its texts (QString) and the installation's
// (Windows-1252 in every file and record), and its one way to a UI text.
#pragma once

#include <QString>
#include <string>

namespace dovrane::services {

QString FromCp1252(const std::string& text);
// The Windows-1252 form of a text. A character the code page has no place
// for is written '?' and the answer is false: a name is then refused (as a
// rename refuses it), free text such as a comment may keep the '?'.
[[nodiscard]] bool ToCp1252(const QString& text, std::string* out);
// The text of UI text (group, item) from the language table; the window's thread only.
QString UiQText(int group, unsigned item, const char* args = nullptr);

}  // namespace dovrane::services

// Qt's own texts (the buttons of message boxes and dialogs, the edit fields'
// menus) in the language of the program's texts.
#pragma once

#include <QString>

namespace dovrane::ui {

// Loads Qt's German translations from the installed Qt's translations folder
// when the language in use is German, and removes them for English; call
// again after the language changed. False when German is wanted and Qt's
// translations are not installed (Debian: qt6-translations-l10n): Qt's
// buttons then stay English.
bool InstallQtTranslations();
// The folder the translations are looked for in.
QString QtTranslationsFolder();

}  // namespace dovrane::ui

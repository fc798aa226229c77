// Where the main window's help document lies: "<help folder>/<LCID>/dovrane.html".
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::ui {

inline constexpr char kHelpDocumentName[] = "dovrane.html";

// The language in use (extlib::InstalledLanguageId): the settings' language
// identifier, else the user's locale's.
long HelpLanguageId();
// The help folder, native: HKLM InstallRoot\HelpPath (a native or Windows
// path), else the "help" folder among the program's resources. False when
// neither names a folder. Looks at the disk (a share path is resolved).
bool HelpFolder(extlib::OperationContext& ctx, std::string* folder);
// The pages shown when the installed language has none: English (US).
inline constexpr long kHelpFallbackLanguage = 1033;
// The document's native path for the language in use; when that language
// has none, its main form's (1031 for de-AT), else the English one. False
// without a help folder (F1 then does nothing). Looks at the disk.
bool HelpDocumentPath(extlib::OperationContext& ctx, std::string* path);

}  // namespace dovrane::ui

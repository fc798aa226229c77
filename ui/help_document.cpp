#include "ui/help_document.h"

#include "extlib/language.h"
#include "extlib/settings.h"
#include "platform/env.h"
#include "platform/path_map.h"

namespace dovrane::ui {

long HelpLanguageId() {
  long lcid = 0;
  if (extlib::GetSettingNumber("HKCU", "Settings\\InstalledLanguageLCID", &lcid)) return lcid;
  if (extlib::GetSettingNumber("HKLM", "Settings\\InstalledLanguageLCID", &lcid)) return lcid;
  return 0;
}

bool HelpFolder(std::string* folder) {
  std::string configured;
  if (extlib::GetFolderByTag("HLP", &configured)) {
    *folder = platform::NativePath(configured);
    return !folder->empty();
  }
  // An installation without a help path still has the program's own pages.
  std::string own = extlib::ResourceFolder() + "/help";
  platform::FileInfo info;
  if (platform::CurrentEnv()->Stat(own, &info) != 0 || info.type != platform::EntryType::kDirectory) return false;
  *folder = own;
  return true;
}

bool HelpDocumentPath(std::string* path) {
  std::string folder;
  if (!HelpFolder(&folder)) return false;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const long lcid = HelpLanguageId();
  *path = folder + "/" + std::to_string(lcid) + "/" + kHelpDocumentName;
  if (lcid == kHelpFallbackLanguage) return true;
  // No pages in the installed language (or no language set at all): the
  // English pages, when they are there, rather than an error.
  platform::FileInfo info;
  if (platform::CurrentEnv()->Stat(*path, &info) == 0 && info.type == platform::EntryType::kFile) return true;
  const std::string english = folder + "/" + std::to_string(kHelpFallbackLanguage) + "/" + kHelpDocumentName;
  if (platform::CurrentEnv()->Stat(english, &info) == 0 && info.type == platform::EntryType::kFile) *path = english;
  return true;
}

}  // namespace dovrane::ui

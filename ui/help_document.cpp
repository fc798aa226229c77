#include "ui/help_document.h"

#include <vector>

#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "platform/env.h"
#include "platform/path_map.h"

namespace dovrane::ui {

long HelpLanguageId() { return extlib::InstalledLanguageId(); }

bool HelpFolder(extlib::OperationContext& ctx, std::string* folder) {
  std::string configured;
  if (extlib::GetFolderByTag("HLP", &configured)) {
    *folder = ctx.Native(configured);
    return !folder->empty();
  }
  // An installation without a help path still has the program's own pages.
  std::string own = extlib::ResourceFolder() + "/help";
  platform::FileInfo info;
  if (ctx.Env().Stat(own, &info) != 0 || info.type != platform::EntryType::kDirectory) return false;
  *folder = own;
  return true;
}

bool HelpDocumentPath(extlib::OperationContext& ctx, std::string* path) {
  std::string folder;
  if (!HelpFolder(ctx, &folder)) return false;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const long lcid = HelpLanguageId();
  auto document = [&folder](long language) {
    return folder + "/" + std::to_string(language) + "/" + kHelpDocumentName;
  };
  // The language's own pages; for a regional form without pages of its own
  // (de-AT, de-CH), the pages of the language's main form; then English.
  // When none is there the first is named in the error.
  std::vector<long> choices{lcid};
  if ((lcid & 0x3FF) == (extlib::kLanguageGerman & 0x3FF)) choices.push_back(extlib::kLanguageGerman);
  choices.push_back(kHelpFallbackLanguage);
  *path = document(lcid);
  for (long language : choices) {
    platform::FileInfo info;
    const std::string candidate = document(language);
    if (ctx.Env().Stat(candidate, &info) == 0 && info.type == platform::EntryType::kFile) {
      *path = candidate;
      break;
    }
  }
  return true;
}

}  // namespace dovrane::ui

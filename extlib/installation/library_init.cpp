#include "extlib/installation/library_init.h"

#include <cstdio>
#include <cstdlib>

#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace {
std::string WithBackslash(std::string path) {
  if (path.empty() || path.back() != '\\') path.push_back('\\');
  return path;
}
}  // namespace

int lfinipC(OperationContext& ctx, int slot, const std::string& path) { return ctx.installation().SetSlot(slot, path); }

std::string lfinigC(OperationContext& ctx, int slot) { return ctx.installation().Slot(slot); }

int lzinit(OperationContext& ctx, int* mode, int, int, int, int, int) {
  (void)mode;
  ApplyPlatformSettings(ctx.installation().Paths());
  std::string net;
  if (!GetSetupPath("Net", &net) || net.empty()) return 1;
  std::string net_dir = WithBackslash(net) + "Net\\";
  platform::FileInfo info;
  if (ctx.Env().Stat(ctx.Native(net_dir), &info) != 0 || info.type != platform::EntryType::kDirectory) return 2;
  close_prj_info_handle(kSlotNet);
  UnCachPrjList(ctx);
  lfinipC(ctx, kSlotNet, net_dir);
  std::string data;
  if (GetSetupPath("Data", &data) && !data.empty()) lfinipC(ctx, kSlotLocalProjects, WithBackslash(data) + "prj\\");
  ctx.installation().initialised = true;
  return 0;
}

void lzende(OperationContext& ctx) {
  // Every administration handle closes, which releases any lock still held.
  for (int slot = 0; slot < kSlotCount; ++slot) close_prj_info_handle(slot);
  UnCachPrjList(ctx);
  ctx.installation().initialised = false;
}

bool LibraryInitialised() { return ProcessInstallation().initialised; }

void lgstop_C_(OperationContext& ctx, const char* where) {
  std::string net;
  GetSetupPath("Net", &net);
  std::string text = LanguageTextWith(kRepairTexts, 38, {where, net, SettingsFilePath("HKLM")});
  // The usual cause on Linux: the share is not mounted where it is looked for.
  platform::ShareNowhere nowhere;
  if (platform::FindShareNowhere(ctx.installation().Paths(), net, &nowhere)) {
    text += LanguageTextWith(kCheckoutTexts, 11, {nowhere.share, nowhere.root}) + "\n";
    for (const std::string& command : nowhere.commands) text += "  " + command + "\n";
    text += LanguageText(kCheckoutTexts, 12);
  }
  LibraryMessage(ctx, 1, text);
}

int VekArbeitsVerzeichnis(OperationContext& ctx) {
  ApplyPlatformSettings(
      ctx.installation().Paths());  // a work folder on a mapped drive needs the drive mapping (before lzinit)
  std::string work;
  if (!GetSettingString("HKCU", "Settings\\WorkPath", &work) || work.empty())
    if (!GetSettingString("HKLM", "InstallRoot\\WorkPath", &work) || work.empty()) return 0;
  std::string native = ctx.Native(work);
  int rc = platform::MakeDirectories(native);
  if (rc) return rc;
  return ctx.Env().ChDir(native);
}

}  // namespace dovrane::extlib

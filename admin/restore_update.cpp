#include "admin/restore_update.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

#include "admin/administration_conversion.h"
#include "admin/administration_header.h"
#include "admin/entry_check.h"
#include "admin/host_scan.h"
#include "admin/interrupted_operations.h"
#include "admin/move_journal.h"
#include "admin/net_id_writer.h"
#include "admin/project_index.h"
#include "admin/shared_file_backup.h"
#include "admin/unique_ids.h"
#include "extlib/records/administration.h"
#include "extlib/installation/host_going_out.h"
#include "extlib/installation/host_list_lock.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/project_list.h"
#include "extlib/projects/project_paths.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace {

constexpr long kNoticeRebuild = 2500407;
constexpr long kNoticeCheck = 2500408;

constexpr char kNotRepairedEnglish[] =
    "The project administration could not be reorganized!\n\nYou can start this procedure again:\nVarnholtek "
    "Services - Service - Hotline Tools - reorg\n";
// Windows-1252 text: "\xf6" is o-umlaut.
constexpr char kNotRepairedGerman[] =
    "Die Projektverwaltung wurde nicht repariert!\n\nSie k\xf6nnen die Prozedur noch einmal "
    "starten:\nKesmenu - Service - Hotlinetools - reorg\n";

bool AdministrationMissing(extlib::OperationContext& ctx) {
  return extlib::lftypeC(ctx, extlib::kSlotNet, extlib::kAdministrationFile, 0) < 0;
}

// Forgets every cached view of project.dat (the file is about to change as a whole).
void ForgetLists(extlib::OperationContext& ctx) {
  extlib::UnCachPrjList(ctx);
  DropIndex();
}

std::string MarkerPath(extlib::OperationContext& ctx) {
  std::string path;
  return extlib::lffnamC_new(ctx, extlib::kSlotNet, kRebuildMarkerFile, &path) == 0 ? ctx.Native(path) : "";
}

}  // namespace

bool RebuildPending(extlib::OperationContext& ctx) {
  std::string path = MarkerPath(ctx);
  platform::FileInfo info;
  // Whatever stands there under the name counts: a link too.
  return !path.empty() && ctx.Env().Stat(path, &info, false) == 0;
}

int ReportRebuildPending(extlib::OperationContext& ctx) {
  services::ToolMessageBox(ctx, services::kMessageError, "%s%s",
                           extlib::LanguageTextWith(extlib::kRepairTexts, 17, {kRebuildMarkerFile}).c_str(),
                           extlib::LanguageText(extlib::kRepairTexts, 18).c_str());
  return kPrjFailed;
}

namespace {

// Marks the administration as being rebuilt: until the marker is gone, a
// partly rebuilt administration is not taken for a whole one. 0 or -1.
// The marker is its presence alone, so it is made in place: a rebuild killed
// while marking leaves the marker or nothing, never a work file beside it.
int MarkRebuild(extlib::OperationContext& ctx) {
  const std::string path = MarkerPath(ctx);
  platform::Env* env = &ctx.Env();
  platform::FileInfo info;
  // Whatever stands there (another rebuild's marker, a link) marks it already.
  if (!path.empty() && env->Stat(path, &info, false) == 0) return 0;
  const int fd =
      path.empty() ? -ENOENT : env->Open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd == -EEXIST) return 0;  // marked meanwhile by another rebuild
  if (fd >= 0) {
    // The text only tells a reader what the file is: a write that fails leaves the marker all the same.
    const std::string text = "rebuild of project.dat under way\n";
    (void)env->Write(fd, text.data(), text.size());
    (void)env->Sync(fd);
    platform::CloseNothingPending(env, fd);
    (void)platform::SyncDirectory(platform::DirName(path));
    return 0;
  }
  services::ToolMessageBox(ctx, services::kMessageWarning, "Can't create file %s.\n", kRebuildMarkerFile);
  return kPrjFailed;
}

// The shared files are copied aside before the first write of a rebuild; a
// backup that fails stops the repair with nothing written. 0 or kPrjFailed.
int BackupBeforeRebuild(extlib::OperationContext& ctx) {
  const int rc = BackupSharedFiles(ctx);
  if (rc == 0) return 0;
  services::ToolMessageBox(ctx, services::kMessageError, "%s", BackupFailedText(rc).c_str());
  return kPrjFailed;
}

// The administration is kept as project.dat.sav before a rebuild replaces it.
// 0, or the move's result (reported).
int SetAdministrationAside(extlib::OperationContext& ctx) {
  int rc = extlib::lfilmvC(ctx, extlib::kSlotNet, extlib::kAdministrationFile, extlib::kSlotNet,
                           kSavedAdministrationFile, 1);
  if (rc != 0)
    services::ToolMessageBox(ctx, services::kMessageError, "%s",
                             extlib::ll_get_language() != 0 ? kNotRepairedEnglish : kNotRepairedGerman);
  return rc;
}

void KeptDamaged(extlib::OperationContext& ctx) {
  services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                           extlib::LanguageTextWith(extlib::kRepairTexts, 19, {kSavedAdministrationFile}).c_str());
}

// One project folder reached under two host names (two data.cfg lines for one
// share) would be registered twice: every project renumbered, copies named
// "Name_", records naming folders that are gone. The folders are told apart by
// device and inode, so a symbolic link or a second mount counts as the same.
// only: "" for every host, else the one host whose folder is compared with
// the others. Warns and returns -1 when two hosts share a folder.
int RefuseHostsSharingAFolder(extlib::OperationContext& ctx, const std::string& only = "") {
  if (!extlib::lfnetg(ctx)) return 0;
  std::vector<extlib::HostEntry> hosts;
  if (extlib::GetHostList(ctx, &hosts) != 0) return 0;                                // the scan reports it
  std::map<std::pair<uint64_t, uint64_t>, std::pair<std::string, std::string>> seen;  // -> host, folder
  for (const extlib::HostEntry& entry : hosts) {
    const std::string& host = entry.name;
    std::string folder;
    platform::FileInfo info;
    if (extlib::HostProjectFolder(ctx, host, &folder) != 0 || ctx.Env().Stat(ctx.Native(folder), &info) != 0 ||
        info.type != platform::EntryType::kDirectory)
      continue;  // not reachable now: nothing of it is scanned either
    auto [it, added] = seen.emplace(std::make_pair(info.device, info.inode), std::make_pair(host, folder));
    if (added || it->second.first == host) continue;
    if (!only.empty() && !platform::EqualsIgnoreCaseCp1252(only, host) &&
        !platform::EqualsIgnoreCaseCp1252(only, it->second.first))
      continue;
    services::ToolMessageBox(
        ctx, services::kMessageError, "%s",
        extlib::LanguageTextWith(extlib::kRepairTexts, 20, {it->second.first, host, it->second.second, folder})
            .c_str());
    return kPrjFailed;
  }
  return 0;
}

// Scan, identifier, compression: each runs only when the one before succeeded.
// The rebuild marker goes once all of them did.
int RebuildSteps(extlib::OperationContext& ctx) {
  SeenProjectInfos seen;
  int rc = ScanAllHosts(ctx, &seen);
  if (rc == 0) rc = EnsureNetId(ctx, &seen);
  if (rc == 0 && !ctx.Cancelled()) rc = CompressAttributes(ctx);
  if (rc == 0 && ctx.Cancelled()) rc = extlib::kPrjInterrupted;
  if (rc == 0) {
    int removed = ctx.Env().Unlink(MarkerPath(ctx));
    if (removed != 0 && removed != -ENOENT) rc = kPrjFailed;
  }
  return rc;
}

int RestoreSteps(extlib::OperationContext& ctx);

// Closes the progress notice on every path.
struct Notice {
  extlib::OperationContext& ctx;
  long handle = 0;
  void Show(long text) { handle = extlib::sendGuiMessageInProcess(ctx, text, 0); }
  ~Notice() { extlib::cancelGuiMessageInProcess(ctx, handle); }
};

}  // namespace

bool AdministrationUnreadable(extlib::OperationContext& ctx) {
  std::string path;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kAdministrationFile, &path) != 0) return false;
  AdministrationHeader header;
  const int fd = OpenAdministrationHeader(ctx, path, ShareMode::kDenyNone, &header);
  // -2: held by another process; above 3: a newer program's file, not damage.
  if (fd < 0) return fd == kHeaderUnusable && header.version <= 3;
  platform::CloseNothingPending(&ctx.Env(), fd);
  // An older layout is the conversion's to read. A current one must also open
  // for the record writers, which measure every line end.
  if (header.version != 3 || header.user_words != extlib::lzuGetCountOfUserContainers()) return false;
  return extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting) < 0;
}

int RestoreDamagedAdministration(extlib::OperationContext& ctx) {
  if (RefuseHostsSharingAFolder(ctx) != 0) return kPrjFailed;
  if (BackupBeforeRebuild(ctx) != 0) return kPrjFailed;
  if (MarkRebuild(ctx) != 0) return kPrjFailed;
  extlib::close_prj_info_handle(extlib::kSlotNet);
  ForgetLists(ctx);
  int rc = SetAdministrationAside(ctx);
  if (rc != 0) return rc;
  KeptDamaged(ctx);
  return RestoreSteps(ctx);
}

int RestoreAdministration(extlib::OperationContext& ctx) {
  if (RefuseHostsSharingAFolder(ctx) != 0) return kPrjFailed;
  if (BackupBeforeRebuild(ctx) != 0) return kPrjFailed;
  return RestoreSteps(ctx);
}

namespace {

// The restore after the checks and the backup.
int RestoreSteps(extlib::OperationContext& ctx) {
  bool created = false;
  // Marked before anything changes: an empty administration left by a failure
  // must not pass for a whole one.
  if (MarkRebuild(ctx) != 0) return kPrjFailed;
  if (AdministrationMissing(ctx)) {
    int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kCreateEmpty);
    if (handle < 0) {
      services::ToolMessageBox(ctx, services::kMessageWarning, "Can't create file %s.\n", extlib::kAdministrationFile);
      return kPrjFailed;
    }
    extlib::close_prj_info(handle);
    created = true;
  }
  // A rebuild killed before its new administration went into place left its work file.
  (void)RemoveConversionTemporaries(ctx);
  ForgetLists(ctx);
  ctx.Title("prjAdmrestore");
  Notice notice{ctx};
  notice.Show(created ? kNoticeRebuild : kNoticeCheck);
  ctx.Print("%s", created ? "\t new project administration created.\n" : "\t project administration already exists.\n");
  return RebuildSteps(ctx);
}

}  // namespace

namespace {

// What a host registration or removal killed in its rewrite of the host list
// left beside it; the list's lock proves no writer is at work on it.
int RemoveHostListTemporaries(extlib::OperationContext& ctx) {
  std::string windows;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kHostListFile, &windows) != 0) return 0;
  const std::string native = ctx.Native(windows);
  return native.empty() ? 0 : extlib::RemoveDeadHostListTemporaries(ctx, native);
}

}  // namespace

int UpdateAdministration(extlib::OperationContext& ctx, bool update_only) {
  if (AdministrationMissing(ctx)) return kPrjAdminMissing;
  ForgetLists(ctx);
  ctx.Title("prjAdmUpdate");
  int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting);
  if (handle < 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't open file %s\n", extlib::kAdministrationFile);
    return kPrjFailed;
  }
  Notice notice{ctx};
  // A journal that cannot be completed now is reported and stays for the next update.
  (void)CompleteInterruptedMoves(ctx);
  (void)CompleteInterruptedOperations(ctx);
  (void)RemoveConversionTemporaries(ctx);
  (void)RemoveHostListTemporaries(ctx);
  const bool restore = !update_only;
  if (update_only && RebuildPending(ctx)) {
    // A rebuild stopped half-way: records may be missing. Complete it.
    ctx.Print("%s", extlib::LanguageText(extlib::kRepairTexts, 21).c_str());
    update_only = false;
  }
  const int unique = CheckUniqueIds(ctx);
  // Records that cannot be read: the update fails (reported by the check);
  // a restore keeps the damaged file and rebuilds from the hosts.
  if (unique == kNumbersUnreadable && !restore) return kPrjFailed;
  if (unique == kNumberUsedTwice || unique == kNumbersUnreadable) {
    extlib::close_prj_info_handle(extlib::kSlotNet);
    ForgetLists(ctx);
    if (RefuseHostsSharingAFolder(ctx) != 0) return kPrjFailed;
    if (BackupBeforeRebuild(ctx) != 0) return kPrjFailed;
    if (MarkRebuild(ctx) != 0) return kPrjFailed;
    int rc = SetAdministrationAside(ctx);
    if (rc != 0) return rc;
    handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kCreateEmpty);
    if (handle < 0) {
      services::ToolMessageBox(ctx, services::kMessageError, "New project administration can not be created.\n");
      return kPrjAdminMissing;
    }
    extlib::close_prj_info(handle);
    ForgetLists(ctx);
    if (unique == kNumbersUnreadable) KeptDamaged(ctx);
    notice.Show(kNoticeRebuild);
  } else {
    if (update_only) return 0;
    if (RefuseHostsSharingAFolder(ctx) != 0) return kPrjFailed;
    notice.Show(kNoticeCheck);
    if (BackupBeforeRebuild(ctx) != 0) return kPrjFailed;
    if (MarkRebuild(ctx) != 0) return kPrjFailed;
    int rc = CheckValidEntries(ctx);
    // Each record was checked whole before the stop: nothing is left to complete.
    if (rc == kPrjInterrupted) (void)ctx.Env().Unlink(MarkerPath(ctx));
    if (rc != 0) return rc;
  }
  return RebuildSteps(ctx);
}

int UpdateHost(extlib::OperationContext& ctx, const std::string& host) {
  if (host.empty()) return kPrjFailed;
  if (extlib::HostGoingOut(ctx, host)) {  // its folder is the laptop's until the check-in
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                             extlib::LanguageTextWith(extlib::kRepairTexts, 40, {host}).c_str());
    return extlib::kPrjHostCheckedOut;
  }
  if (RefuseHostsSharingAFolder(ctx, host) != 0) return kPrjFailed;
  ForgetLists(ctx);
  // A host whose folder cannot be looked at is reported once, by the first pass.
  {
    extlib::NoProgressLines no_lines(ctx);
    if (ScanHostProjects(ctx, host, 1) != 0) return kPrjFailed;
    // The first pass reported a folder that cannot be listed; an entry the
    // second leaves unregistered is counted below.
    (void)ScanHostProjects(ctx, host, 2);
  }
  if (ctx.Cancelled()) return kPrjInterrupted;
  const int rc = CheckHostEntries(ctx, host);
  return rc == 0 && EntriesLeftUnregistered(ctx.installation()) ? kEntriesLeftUnregistered : rc;
}

int CompressAttributes(extlib::OperationContext& ctx) {
  ctx.Print("Compress Project Attributes ...");
  extlib::RX_ProjectAttributes attributes(ctx, extlib::kSlotNet);
  attributes.compressDatabase();
  return 0;
}

}  // namespace dovrane::admin

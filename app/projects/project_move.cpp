#include "app/projects/project_move.h"

#include <cerrno>

#include "admin/move_journal.h"
#include "app/projects/named_ui_text.h"
#include "app/projects/project_error.h"
#include "app/projects/project_permission.h"
#include "app/projects/project_queries.h"
#include "extlib/installation/general.h"
#include "extlib/installation/host_going_out.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "extlib/projects/dir_tree.h"
#include "extlib/projects/project_info_file.h"
#include "extlib/projects/project_paths.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"
#include "platform/system_error.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {


// The folder keeps a copy of its record; it follows the move. A folder
// without one has nothing to follow. 0, or the failed write's code.
int UpdateStoredRecord(extlib::OperationContext& ctx, const std::string& dir, const extlib::PRJ& record) {
  const std::string native = ctx.Native(dir);
  uint32_t net_id = 0;
  extlib::PRJ stored;
  if (extlib::ReadProjectInfo(native, &net_id, &stored) != 0) return 0;
  return extlib::WriteProjectInfo(native, net_id, record);
}

// Moves a project folder to another host. On one file system a rename; across
// file systems a copy below a temporary name, checked against the source and
// then renamed into place, while the source stays (*copied) until the record
// names the copy. 0 or -errno; on failure the source is whole and no target
// is left.
int MoveFolder(extlib::OperationContext& ctx, const std::string& from, const std::string& to, bool* copied) {
  platform::Env* env = &ctx.Env();
  const std::string nfrom = ctx.Native(from), nto = ctx.Native(to);
  *copied = false;
  int rc = env->Rename(nfrom, nto);
  if (rc != -EXDEV) return rc;
  const std::string temp = nto + ".mov~" + std::to_string(platform::ProcessId());
  rc = extlib::CopyTree(ctx, nfrom, temp);
  if (rc == 0) rc = extlib::VerifyTree(ctx, nfrom, temp);
  if (rc == 0) rc = env->Rename(temp, nto);
  if (rc != 0) {
    (void)extlib::RemoveTree(ctx, temp);  // a work copy (.mov~) is never taken for a project
    return rc;
  }
  *copied = true;
  return 0;
}

// Whether the project's folder may move to target now: only a real folder
// that is reachable, not in use, not checked out, and a target not going out.
// 0, or the code to answer with (the user was told).
int CheckMoveSource(extlib::OperationContext& ctx, const extlib::PRJ& record, const std::string& shown,
                    const std::string& old_dir, const std::string& target) {
  // Only a real folder moves: a symbolic link left in the share leads
  // anywhere, and the move would write its stored record there.
  if (!old_dir.empty() && platform::IsSymbolicLink(ctx.Native(old_dir))) {
    services::ToolMessageBox(
        ctx, services::kMessageWarning, "%s",
        extlib::LanguageTextWith(extlib::kProjectCommandTexts, 1, {shown, record.host, old_dir}).c_str());
    return kPrjNotReachable;
  }
  const int kind = extlib::lzcheck_path(ctx, old_dir);
  if (kind == 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning,
                             "No support for project link.\nProject <%s>\n on host <%s> is a link.\n", shown.c_str(),
                             record.host);
    return kPrjNotReachable;
  }
  if (kind != 1) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "No access to project <%s>\n on host <%s>\n",
                             shown.c_str(), record.host);
    return kPrjNotReachable;
  }
  if (extlib::ProjectInUse(ctx, record)) {
    ReportProjectError(ctx, kPrjLockFailed);
    return kPrjLockFailed;
  }
  // Read under the lock: a laptop may have checked it out since the first look.
  if (const int out = CheckNotCheckedOut(ctx, record, "move"); out != 0) return out;
  if (extlib::HostGoingOut(ctx, target)) {
    ReportProjectError(ctx, kPrjHostCheckedOut);
    return kPrjHostCheckedOut;
  }
  return 0;
}

// The folder did not move (rc, -errno): the journal goes, the user is told.
int ReportFolderNotMoved(extlib::OperationContext& ctx, uint32_t number, const std::string& old_dir,
                         const std::string& new_dir, int rc) {
  admin::RemoveMoveJournal(ctx, number);
  services::ToolMessageBox(ctx, services::kMessageError, "%s -> %s\n%s", old_dir.c_str(), new_dir.c_str(),
                           platform::SystemErrorText(rc));
  errno = -rc;
  extlib::lf_perror(ctx, "ldirreC");
  return kPrjFailed;
}

int PutFolderBack(extlib::OperationContext& ctx, uint32_t number, const std::string& shown, const std::string& old_dir,
                  const std::string& new_dir, bool copied, bool went_out);

// The record (at position, locked) names the moved folder: its stored copy
// follows, the source of a copy goes, and with it the journal.
int FinishMove(extlib::OperationContext& ctx, int handle, long position, const extlib::PRJ& record,
               const std::string& shown, const std::string& old_dir, const std::string& new_dir,
               const extlib::PRJ& moved, bool copied) {
  const uint32_t number = record.number;
  const int stored = UpdateStoredRecord(ctx, new_dir, moved);
  // The copy gone under the move (nothing of this system removes the copy of
  // a move at work, but a person or a dying share may): the source is the
  // project still, so the record goes back to it, and it stays.
  if (copied && stored != 0 && platform::PathPresence(ctx.Native(new_dir)) == 0 &&
      extlib::seek_prj_set(handle, position) == 0 && extlib::write_PrjInfo(ctx, handle, &record) == 0)
    return PutFolderBack(ctx, number, shown, old_dir, new_dir, copied, false);
  if (copied && extlib::ldirrmc(ctx, old_dir) != 0)
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                             extlib::LanguageTextWith(extlib::kProjectCommandTexts, 3, {old_dir}).c_str());
  else
    admin::RemoveMoveJournal(ctx, number);
  if (stored == 0) return 0;
  // The administration and the folder agree; only the folder's own copy of
  // the record still names the old host.
  services::ToolMessageBox(
      ctx, services::kMessageError, "%s",
      extlib::LanguageTextWith(extlib::kProjectCommandTexts, 4,
                               {shown, new_dir, extlib::kProjectInfoFile, platform::SystemErrorText(stored)})
          .c_str());
  return kPrjFailed;
}

// Which host the project's record names after a write of it failed: 1 the
// target (the bytes reached the file all the same, as when its share died
// after taking them, before the flush and the put-back), 0 the old host, -1
// it cannot be read now.
int RecordNamesTarget(int handle, long position, uint32_t number, const std::string& target) {
  extlib::PRJ now;
  if (extlib::ReadRecordAtSlot(handle, position, &now) != extlib::kRecordRead || now.number != number) return -1;
  return platform::EqualsIgnoreCaseCp1252(now.host, target) ? 1 : 0;
}

// The record still names the old folder: it must stay, or come back.
int PutFolderBack(extlib::OperationContext& ctx, uint32_t number, const std::string& shown, const std::string& old_dir,
                  const std::string& new_dir, bool copied, bool went_out) {
  bool back = true;
  if (copied)
    (void)extlib::ldirrmc(ctx, new_dir);  // the source was never touched and the record names it
  else
    back = ctx.Env().Rename(ctx.Native(new_dir), ctx.Native(old_dir)) == 0;
  if (back) {
    admin::RemoveMoveJournal(ctx, number);
    if (went_out) {
      ReportProjectError(ctx, kPrjHostCheckedOut);
      return kPrjHostCheckedOut;
    }
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                             extlib::LanguageTextWith(extlib::kProjectCommandTexts, 5, {shown, old_dir}).c_str());
  } else {
    services::ToolMessageBox(
        ctx, services::kMessageError, "%s",
        extlib::LanguageTextWith(extlib::kProjectCommandTexts, 6, {shown, old_dir, new_dir}).c_str());
  }
  return kPrjFailed;
}

// Steps after the record is locked and read again under the lock.
int MoveLocked(extlib::OperationContext& ctx, int handle, long position, const std::string& name, extlib::PRJ record,
               const std::string& target) {
  if (platform::EqualsIgnoreCaseCp1252(record.host, target)) {
    services::ToolMessageBox(ctx, services::kMessageInformation, "%s",
                             NamedUiText(3, 6, extlib::TrimmedName(name.c_str())).c_str());
    return kPrjFailed;
  }
  const std::string shown = DisplayName(name);
  std::string old_dir, new_dir;
  if (extlib::build_prj_dir(ctx, record, &old_dir) != 0) old_dir.clear();
  if (const int refused = CheckMoveSource(ctx, record, shown, old_dir, target); refused != 0) return refused;
  extlib::PRJ moved = record;
  extlib::SetPrjHost(&moved, target);
  // A file (a link) at the destination counts as existing too.
  if (extlib::build_prj_dir(ctx, moved, &new_dir) != 0 || extlib::lzcheck_path(ctx, new_dir) >= 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning,
                             "Can't %s project because the destination path\n%s\n already exists on host <%s>\n",
                             "move", new_dir.c_str(), target.c_str());
    return kPrjExists;
  }
  // Written before anything moves: a crash between the folder and the record
  // leaves it for the next update, which puts the move right.
  const admin::MoveJournal journal{record.number, record.host, target, old_dir, new_dir};
  if (admin::WriteMoveJournal(ctx, journal) != 0) {
    services::ToolMessageBox(ctx, services::kMessageError, "%s",
                             extlib::LanguageTextWith(extlib::kProjectCommandTexts, 2, {shown}).c_str());
    return kPrjFailed;
  }
  bool copied = false;
  if (const int rc = MoveFolder(ctx, old_dir, new_dir, &copied); rc != 0)
    return ReportFolderNotMoved(ctx, record.number, old_dir, new_dir, rc);
  bool written = extlib::seek_prj_set(handle, position) == 0 && extlib::write_PrjInfo(ctx, handle, &moved) == 0;
  if (!written) {
    const int names = RecordNamesTarget(handle, position, record.number, target);
    if (names < 0) {
      // Which folder the record names cannot be told: both stay, and the
      // journal with them, for the next update to put the move right.
      services::ToolMessageBox(
          ctx, services::kMessageError, "%s",
          extlib::LanguageTextWith(extlib::kProjectCommandTexts, 17, {shown, old_dir, new_dir}).c_str());
      return kPrjFailed;
    }
    written = names == 1;
  }
  // Looked for again once the record names the target: a check-out of the
  // target writes its file before it reads the administration for its copy,
  // so either that read finds this record (and the check-out stops), or this
  // look finds the file and the move goes back.
  bool went_out = false;
  if (written && extlib::HostGoingOut(ctx, target)) {
    went_out = true;
    if (extlib::seek_prj_set(handle, position) != 0 || extlib::write_PrjInfo(ctx, handle, &record) != 0) {
      // The record names the target still: the folder stays with it, and the
      // journal for the update.
      ReportProjectError(ctx, kPrjHostCheckedOut);
      return kPrjHostCheckedOut;
    }
    written = false;
  }
  if (written) return FinishMove(ctx, handle, position, record, shown, old_dir, new_dir, moved, copied);
  return PutFolderBack(ctx, record.number, shown, old_dir, new_dir, copied, went_out);
}

}  // namespace

extlib::ProjectCode CheckHostReachable(extlib::OperationContext& ctx, const std::string& host, std::string* host_name,
                                       std::string* host_path) {
  std::string data_path;
  int rc = extlib::get_data_path(ctx, host, &data_path);
  if (rc != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't find the host <%s> in the administration.\n",
                             host.c_str());
    return extlib::AsProjectCode(rc);
  }
  *host_name = host;
  std::vector<extlib::HostEntry> hosts;
  if (extlib::ReadHostList(ctx, &hosts) == 0)
    for (const extlib::HostEntry& h : hosts)
      if (platform::EqualsIgnoreCaseCp1252(h.name, host)) *host_name = h.name;
  if (extlib::lfBuildNetPath(*host_name, data_path, host_path) != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't build path for host <%s>\n", host.c_str());
    return kPrjNotReachable;
  }
  if (extlib::lzcheck_path(ctx, *host_path) != 1) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "No access to host <%s>\n", host.c_str());
    return kPrjNotReachable;
  }
  return extlib::kPrjOk;
}

extlib::ProjectCode MoveProject(extlib::OperationContext& ctx, const std::string& padded_name,
                                const std::string& host) {
  extlib::PRJ record;
  int rc = CheckMayChangeProject(ctx, padded_name, "move", kPrjPrivate, &record);
  if (rc != 0) return extlib::AsProjectCode(rc);
  std::string target, host_path;
  if ((rc = CheckHostReachable(ctx, host, &target, &host_path)) != 0) return extlib::AsProjectCode(rc);

  const int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting);
  if (handle < 0) {
    rc = extlib::AdministrationOpenFailure(ctx, extlib::kSlotNet);
    ReportProjectError(ctx, rc);
    return extlib::AsProjectCode(rc);
  }
  const long found = extlib::get_prj_position(ctx, handle, padded_name, extlib::kSlotNet, extlib::kOpenExisting);
  if (found < 0) {
    rc = found == -1 ? kPrjNotFound : static_cast<int>(found);
    ReportProjectError(ctx, rc);
    return extlib::AsProjectCode(rc);
  }
  // Released on every path, by the slot it locked.
  extlib::RecordLock lock;
  if (extlib::LockRecordByNumber(ctx, handle, record.number, &lock) != 0) {
    ReportProjectError(ctx, kPrjLockFailed);
    return kPrjLockFailed;
  }
  const long position = lock.slot();
  // Read under the lock: another workstation may have changed the record.
  extlib::PRJ current;
  if (extlib::ReadRecordAtSlot(handle, position, &current) != 0 || padded_name != current.name ||
      current.number != record.number) {
    ReportProjectError(ctx, kPrjNotFound);
    return kPrjNotFound;
  }
  return extlib::AsProjectCode(MoveLocked(ctx, handle, position, padded_name, current, target));
}

}  // namespace dovrane::app

#include "extlib/projects/project_lifecycle.h"

#include <cstring>

#include "extlib/installation/host_going_out.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/net_id.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "extlib/projects/dir_tree.h"
#include "extlib/projects/operation_journal.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_data.h"
#include "extlib/projects/project_info_file.h"
#include "extlib/projects/project_paths.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/no_follow.h"
#include "platform/path_map.h"
#include "platform/system_names.h"

namespace dovrane::extlib {

using platform::CurrentEnv;

namespace {

struct NewProject {
  std::string name;
  std::string host;
  const unsigned char* members = nullptr;
  std::string source_native;  // copy this folder; empty: new project data
  const FolderCopier* copier = nullptr;  // null: CopyTree
  unsigned char version = kCurrentProjectVersion;
};

// Makes and fills the project folder at native. 0, -EEXIST (the name is
// taken), or another -errno with nothing left behind.
int MakeFolder(OperationContext& ctx, const NewProject& p, const std::string& native) {
  if (!p.source_native.empty()) {
    int rc = p.copier ? (*p.copier)(p.source_native, native) : CopyTree(ctx, p.source_native, native);
    if (rc == 0) (void)ctx.Env().Unlink(native + "/" + kLockInfoFile);
    return rc;
  }
  int rc = ctx.Env().MkDir(native);
  if (rc) return rc;
  rc = platform::WriteFileAtomic(native + "/version.txt", std::to_string(kCurrentProjectVersion) + "\r\n");
  if (rc == 0) rc = CreateProjectData(ctx, native);
  if (rc) (void)RemoveTree(ctx, native);  // the creation's own failure is the answer
  return rc;
}

bool Exists(OperationContext& ctx, const std::string& native) {
  platform::FileInfo info;
  return ctx.Env().Stat(native, &info, false) == 0;
}

// The new project's record, number n; on a network its members, and the
// user creating it as its owner and a member.
PRJ NewRecord(OperationContext& ctx, const NewProject& p, uint32_t n) {
  PRJ record;
  SetPrjName(&record, p.name);
  SetPrjHost(&record, p.host);
  record.number = n;
  record.version = p.version;
  record.begin = static_cast<int32_t>(ctx.Env().NowSeconds());
  if (lfnetg(ctx)) {
    const int containers = lzuGetCountOfUserContainers();
    if (p.members) std::memcpy(record.members, p.members, 4 * static_cast<size_t>(containers));
    UserInfo me;
    lzuinfC(&me);
    if (me.index != 0 && me.index <= 32u * containers) {
      record.owner = me.index;
      SetMemberBit(&record, me.index, true);
    }
  }
  return record;
}

// REQUIRES: the null record of handle is locked.
// The folder is built under a work name and goes into place once the record
// is written; the create journal lets the next update finish or take back a
// create cut short in between.
int CreateLocked(OperationContext& ctx, int handle, const NewProject& p, const std::string& host_folder, PRJ* out) {
  UnCachPrjList(ctx);  // decide on the file as it is now
  if (NameInUse(ctx, p.name)) return kPrjExists;
  ListFacts facts;
  int rc = GetListFacts(ctx, &facts);
  if (rc) return rc;
  uint32_t n = facts.largest > facts.highest && facts.largest < 9999900 ? facts.largest : facts.highest;
  OperationJournal journal;
  journal.kind = JournalKind::kCreate;
  journal.host = p.host;
  std::string native, work;
  bool made = false;
  for (uint32_t tries = 0; tries < kMaxProjectNumber && !made; ++tries) {
    if (++n > kMaxProjectNumber) n = 1;
    if (NumberInUse(ctx, n)) continue;
    journal.entry = NumberText(n) + ".prj";
    native = ctx.Native(host_folder + "\\" + journal.entry);
    work = CreateWorkName(native);
    // A folder the administration does not know, or a create cut short that
    // waits for the update, keeps its number.
    if (Exists(ctx, native) || CreateJournalExists(ctx, journal.entry)) continue;
    // A failure of the system is named: "ERROR=-1" alone tells nobody what to mend.
    if (const int written = WriteOperationJournal(ctx, journal); written != 0) {
      LibraryMessage(
          ctx, 1,
          LanguageTextWith(kRepairTexts, 35, {journal.entry, platform::ErrorName(written < -1 ? written : -EIO)}));
      return kPrjFailed;
    }
    rc = MakeFolder(ctx, p, work);
    // A work folder that could not be taken away again (its host stopped
    // answering) keeps the journal: the next update takes it back.
    if (rc == -EEXIST || (rc && platform::PathPresence(work) == 0)) RemoveOperationJournal(ctx, journal);
    if (rc == -EEXIST) continue;
    if (rc == -ECANCELED) return kPrjInterrupted;
    if (rc) {
      LibraryMessage(ctx, 1, LanguageTextWith(kRepairTexts, 36, {journal.entry, p.host, platform::ErrorName(rc)}));
      return kPrjFailed;
    }
    made = true;
  }
  if (!made) return kPrjFailed;
  PRJ record = NewRecord(ctx, p, n);
  rc = WriteProjectInfo(work, get_PRJVekNetID(ctx), record);
  if (rc == 0) rc = seek_prj_set(handle, facts.first_free_slot);
  if (rc == 0) rc = write_prj_info(ctx, handle, &record);
  if (rc) {
    // A failed write may have reached the file all the same (its share died
    // after it took the bytes): the work folder and the journal go only while
    // the slot reads without this record; otherwise the next update puts the
    // folder into place or takes the create back by what the slot says then.
    PRJ now;
    const int read = ReadRecordAtSlot(handle, facts.first_free_slot, &now);
    const bool absent = read == kRecordEnd || (read == kRecordRead && (now.number != record.number || IsDeleted(now)));
    if (absent && RemoveTree(ctx, work) == 0) RemoveOperationJournal(ctx, journal);
    return kPrjFailed;
  }
  if (ctx.Env().Rename(work, native) != 0) {
    // The record goes again; should that fail too, the journal stays and the
    // next update puts the folder into place.
    PRJ erased = record;
    erased.name[0] = '#';
    if (seek_prj_set(handle, facts.first_free_slot) == 0 && write_prj_info(ctx, handle, &erased) == 0 &&
        RemoveTree(ctx, work) == 0)
      RemoveOperationJournal(ctx, journal);
    return kPrjFailed;
  }
  if (n > facts.highest) {
    NullRecord null_record;
    SetNullRecordHighest(&null_record, n);
    (void)write_null_record(ctx, handle, &null_record);  // the list's largest number covers a failure here
  }
  RemoveOperationJournal(ctx, journal);  // one left behind finds the project whole
  *out = record;
  return 0;
}

int Create(OperationContext& ctx, NewProject p, PRJ* out, uint32_t* number) {
  p.name = TrimmedName(PadName(p.name).c_str());
  if (!IsValidProjectName(p.name)) return kPrjInvalidName;
  if (!lfnetg(ctx))
    p.host = "localhost";
  else if (!IsValidHostName(p.host)) return kPrjUnknownComputer;
  std::string folder;
  int rc = HostProjectFolder(ctx, p.host, &folder);
  if (rc) return rc;
  if (lzcheck_path(ctx, folder) != kPathFolder) return kPrjNotReachable;
  int handle = open_prj_info(ctx, kSlotNet, kOpenExisting);
  if (handle < 0) return AdministrationOpenFailure(ctx, kSlotNet);
  RecordLock null_lock;
  if (LockNullRecord(ctx, handle, &null_lock) != 0) return kPrjLockFailed;
  // A host going out takes no new project: its check-out information file is
  // written before its copy of the administration is taken, and the
  // check-out takes this lock once after writing it, so a create that looked
  // before the file was there has its record in the copy.
  if (HostGoingOut(ctx, p.host)) return kPrjHostCheckedOut;
  PRJ record;
  rc = CreateLocked(ctx, handle, p, folder, &record);
  // The project is made (or the failure is the answer): a null record lock
  // that will not come off goes with the handle's close.
  (void)null_lock.Release();
  if (rc == 0) {
    if (out) *out = record;
    if (number) *number = record.number;
  }
  return rc;
}

// The record a project folder keeps follows the rename, so that a rebuild
// from the hosts finds the project under its new name. Best effort: the
// administration's record is the rename, and the next update's identifier
// pass writes a stored record that differs from it.
void RenameStoredRecord(OperationContext& ctx, const PRJ& record) {
  std::string entry;
  // A link file's folder, or a symbolic link left in the share, is not ours.
  if (build_prj_dir(ctx, record, &entry) != 0 || lzcheck_path(ctx, entry) != kPathFolder ||
      platform::IsSymbolicLink(ctx.Native(entry)))
    return;
  const std::string native = ctx.Native(entry);
  uint32_t net_id = 0;
  PRJ stored;
  if (ReadProjectInfo(native, &net_id, &stored) != kProjectInfoRead || stored.number != record.number) return;
  SetPrjName(&stored, TrimmedName(record.name));
  (void)WriteProjectInfo(native, net_id, stored);
}

}  // namespace

int ltbpcrC(OperationContext& ctx, int slot, const std::string& name, const std::string& host,
            const unsigned char* members, int, int, int, int, PRJ* out, uint32_t* number) {
  if (slot != kSlotNet) return kPrjAdminMissing;
  NewProject p;
  p.name = name;
  p.host = host;
  p.members = members;
  return Create(ctx, p, out, number);
}

int ltbpcpC(OperationContext& ctx, const PRJ& source, const std::string& host, const std::string& new_name,
            const unsigned char* members, int, int, PRJ* out, uint32_t* new_number) {
  return CopyProjectWith(ctx, source, host, new_name, members, FolderCopier(), out, new_number);
}

int CopyProjectWith(OperationContext& ctx, const PRJ& source, const std::string& host, const std::string& new_name,
                    const unsigned char* members, const FolderCopier& copier, PRJ* out, uint32_t* new_number) {
  std::string dir;
  if (make_prj_dir(ctx, source, &dir) != 0) return kPrjNotReachable;
  NewProject p;
  p.name = new_name;
  p.host = host.empty() ? std::string(source.host) : host;
  p.members = members;
  p.source_native = ctx.Native(dir);
  p.version = source.version;
  if (copier) p.copier = &copier;
  return Create(ctx, p, out, new_number);
}

int ltbprmC(OperationContext& ctx, int slot, const std::string& name, uint32_t* number) {
  PRJ record;
  int rc = slot == kSlotNet ? get_project_info(ctx, name, &record) : kPrjAdminMissing;
  if (rc) return rc;
  int handle = open_prj_info(ctx, kSlotNet, kOpenExisting);
  if (handle < 0) return AdministrationOpenFailure(ctx, kSlotNet);
  RecordLock lock;
  if ((rc = LockRecordByName(ctx, kSlotNet, name, &lock)) != 0) return rc;
  // Read again under the lock: a laptop may have checked it out meanwhile.
  if (ReadRecordAtSlot(handle, lock.slot(), &record) != 0) return kPrjFailed;
  if ((rc = CheckedOutCode(record)) != 0) return rc;
  std::string entry, trash;
  rc = ProjectInUse(ctx, record) ? kPrjLockFailed : build_prj_dir(ctx, record, &entry);
  const int kind = rc == 0 ? lzcheck_path(ctx, entry) : kPathUnreachable;
  if (rc == 0 && kind == kPathUnreachable) rc = kPrjNotReachable;
  const OperationJournal journal{JournalKind::kErase, record.host, LastComponent(entry)};
  bool drop_journal = false;
  if (rc == 0 && kind >= 0) {
    // Out of the way first, so a failure later can put it back whole; after a
    // crash the journal lets the next update do the same.
    const std::string native = ctx.Native(entry);
    trash = EraseWorkName(native);
    drop_journal = WriteOperationJournal(ctx, journal) == 0;
    if (!drop_journal || ctx.Env().Rename(native, trash) != 0) rc = kPrjFailed;
    if (rc) trash.clear();
  }
  const long position = lock.slot();
  if (rc == 0) {
    record.name[0] = '#';
    if (position < 1 || seek_prj_set(handle, position) != 0 || write_prj_info(ctx, handle, &record) != 0) {
      rc = kPrjFailed;
      // A failed write may have reached the file all the same (its share died
      // after it took the bytes, before the flush and the put-back): the
      // folder goes back only while the record reads unchanged. Otherwise it
      // stays under its work name with the journal, and the next update
      // finishes the erase or takes it back by what the record says then.
      PRJ now;
      const bool unchanged = position >= 1 && ReadRecordAtSlot(handle, position, &now) == kRecordRead &&
                             now.name[0] != '#' && now.number == record.number;
      if (!unchanged || (!trash.empty() && ctx.Env().Rename(trash, ctx.Native(entry)) != 0)) drop_journal = false;
      trash.clear();
    }
  }
  // The record is written (or the failure is the answer): a lock that will
  // not come off goes with the handle's close.
  (void)lock.Release();
  // A journal whose work is not done stays for the next update. The project
  // is erased all the same; what is left is said (a file another workstation
  // keeps open can hold its folder).
  if (!trash.empty()) {
    if (const int removed = RemoveTree(ctx, trash); removed != 0) {
      drop_journal = false;
      LibraryMessage(ctx, 1,
                     LanguageTextWith(kProjectCommandTexts, 18,
                                      {TrimmedName(name.c_str()), EraseWorkName(entry), platform::ErrorName(removed)}));
    }
  }
  if (drop_journal) RemoveOperationJournal(ctx, journal);
  if (rc == 0 && number) *number = record.number;
  return rc;
}

int ltbpreC(OperationContext& ctx, int slot, const std::string& old_name, const std::string& new_name,
            std::string* buffer, int* result) {
  int rc = 0;
  const std::string trimmed = TrimmedName(PadName(new_name).c_str());
  PRJ record;
  if (slot != kSlotNet) rc = kPrjAdminMissing;
  if (rc == 0 && !IsValidProjectName(trimmed)) rc = kPrjInvalidName;
  if (rc == 0) rc = get_project_info(ctx, old_name, &record);
  int handle = rc == 0 ? open_prj_info(ctx, kSlotNet, kOpenExisting) : -1;
  if (rc == 0 && handle < 0) rc = AdministrationOpenFailure(ctx, kSlotNet);
  RecordLock null_lock, lock;
  if (rc == 0 && LockNullRecord(ctx, handle, &null_lock) != 0) rc = kPrjLockFailed;
  if (rc == 0) {
    UnCachPrjList(ctx);
    if (NameInUse(ctx, trimmed)) rc = kPrjExists;
  }
  if (rc == 0 && LockRecordByName(ctx, kSlotNet, old_name, &lock) != 0) rc = kPrjLockFailed;
  const long position = rc == 0 ? lock.slot() : -1;
  if (rc == 0 && ReadRecordAtSlot(handle, position, &record) != 0) rc = kPrjNotFound;
  if (rc == 0) rc = CheckedOutCode(record);
  std::string old_entry, new_entry;
  if (rc == 0 && record.number == 0) {  // a plain-named folder carries the name
    PRJ renamed = record;
    SetPrjName(&renamed, trimmed);
    if (build_prj_dir(ctx, record, &old_entry) != 0 || build_prj_dir(ctx, renamed, &new_entry) != 0 ||
        ctx.Env().Rename(ctx.Native(old_entry), ctx.Native(new_entry)) != 0)
      rc = kPrjFailed;
  }
  if (rc == 0) {
    SetPrjName(&record, trimmed);
    if (seek_prj_set(handle, position) != 0 || write_prj_info(ctx, handle, &record) != 0) {
      rc = kPrjFailed;
      if (!new_entry.empty()) (void)ctx.Env().Rename(ctx.Native(new_entry), ctx.Native(old_entry));
    }
  }
  if (rc == 0) RenameStoredRecord(ctx, record);
  // Released by the slot: the record carries the new name now. A lock that
  // will not come off goes with the handle's close.
  (void)lock.Release();
  (void)null_lock.Release();
  if (buffer && rc == 0) *buffer = PadName(trimmed);
  if (result) *result = rc;
  return rc;
}

}  // namespace dovrane::extlib

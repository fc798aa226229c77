#include "extlib/projects/operation_journal.h"

#include <fcntl.h>

#include <cerrno>
#include <sstream>
#include <vector>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/dir_tree.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_paths.h"
#include "extlib/records/administration.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"

namespace dovrane::extlib {

using platform::CurrentEnv;

namespace {

constexpr char kCreateHead[] = "dovrane project create";
constexpr char kEraseHead[] = "dovrane project erase";
constexpr char kCreateSuffix[] = ".new";
constexpr char kEraseSuffix[] = ".del";
constexpr size_t kMaxJournalBytes = 4096;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The entry's stem: a project number for a numbered entry (*number), or a
// valid project name. False for anything that could lead out of the folder.
bool ParseEntry(const std::string& entry, uint32_t* number) {
  *number = 0;
  if (!EndsWith(entry, ".prj") || entry.size() <= 4) return false;
  const std::string stem = entry.substr(0, entry.size() - 4);
  if (ParseNumberText(stem, number) && *number != 0) return true;
  *number = 0;
  return IsValidProjectName(stem) && stem.back() != '.';
}

std::string NetDir(OperationContext& ctx) { return ctx.Native(lfinigC(ctx, kSlotNet)); }

// A journal is a small regular file; anything else in its place is not read.
int ReadJournalFile(OperationContext& ctx, const std::string& native, std::string* text) {
  platform::Env* env = &ctx.Env();
  int fd = env->Open(native, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fd;
  platform::FileInfo info;
  int rc = env->FStat(fd, &info);
  if (rc == 0 && (info.type != platform::EntryType::kFile || info.size > kMaxJournalBytes)) rc = -EINVAL;
  std::vector<char> buf(kMaxJournalBytes + 1);
  int64_t n = rc == 0 ? env->Read(fd, buf.data(), buf.size()) : 0;
  if (rc == 0 && n < 0) rc = static_cast<int>(n);
  if (rc == 0) text->assign(buf.data(), static_cast<size_t>(n));
  platform::CloseNothingPending(env, fd);
  return rc;
}

bool Exists(const std::string& native) { return platform::PathPresence(native) == 1; }
// Known not to be there; a host that does not answer cannot tell.
bool Absent(const std::string& native) { return platform::PathPresence(native) == 0; }

// What may go into a project's place: a folder, or for an erase also a link
// file; never a symbolic link, which could lead anywhere.
bool MayGoIntoPlace(OperationContext& ctx, const std::string& native, bool link_file_too) {
  platform::FileInfo info;
  if (ctx.Env().Stat(native, &info, false) != 0) return false;
  return info.type == platform::EntryType::kDirectory || (link_file_too && info.type == platform::EntryType::kFile);
}

// The record whose entry is entry_path. 0, -3 none, or another code when the
// administration cannot tell.
int FindOwner(OperationContext& ctx, const std::string& entry_path, const std::string& entry, uint32_t number,
              PRJ* record) {
  UnCachPrjList(ctx);  // decide on the file as it is now
  int rc = number != 0 ? get_PrjInfo_by_number(ctx, number, record)
                       : get_project_info(ctx, PadName(entry.substr(0, entry.size() - 4)), record);
  if (rc != 0) return rc;
  std::string dir;
  return build_prj_dir(ctx, *record, &dir) == 0 && platform::EqualsIgnoreCaseCp1252(dir, entry_path) ? 0 : kPrjNotFound;
}

// REQUIRES: the null record is locked, so no create runs.
JournalOutcome PutCreateRight(OperationContext& ctx, const std::string& entry_path, const std::string& entry,
                              uint32_t number) {
  const std::string native = ctx.Native(entry_path), work = CreateWorkName(native);
  PRJ record;
  int rc = FindOwner(ctx, entry_path, entry, number, &record);
  if (rc == 0) {  // the record was written: the folder goes into place
    if (Exists(native) || Absent(work)) return JournalOutcome::kNothing;
    if (!Exists(work)) return JournalOutcome::kLeft;
    if (!MayGoIntoPlace(ctx, work, false)) return JournalOutcome::kLeft;
    return ctx.Env().Rename(work, native) == 0 ? JournalOutcome::kCompleted : JournalOutcome::kLeft;
  }
  if (rc != kPrjNotFound) return JournalOutcome::kLeft;
  if (Absent(work)) return JournalOutcome::kNothing;
  return RemoveTree(ctx, work) == 0 ? JournalOutcome::kTakenBack : JournalOutcome::kLeft;
}

JournalOutcome PutEraseRight(OperationContext& ctx, const std::string& entry_path, const std::string& entry,
                             uint32_t number) {
  const std::string native = ctx.Native(entry_path), work = EraseWorkName(native);
  PRJ record;
  int rc = FindOwner(ctx, entry_path, entry, number, &record);
  if (rc == 0) {
    // Under the record's lock: an erase still running holds it.
    RecordLock lock;
    if (LockRecordByName(ctx, kSlotNet, record.name, &lock) != 0) return JournalOutcome::kLeft;
    JournalOutcome outcome = JournalOutcome::kNothing;
    rc = FindOwner(ctx, entry_path, entry, number, &record);
    const int here = rc == 0 ? platform::PathPresence(native) : 0, away = rc == 0 ? platform::PathPresence(work) : 0;
    if (here < 0 || away < 0)  // the host does not answer: the journal waits for it
      outcome = JournalOutcome::kLeft;
    else if (rc == 0 && here == 0 && away == 1)  // the record stayed: the folder comes back
      outcome = MayGoIntoPlace(ctx, work, true) && ctx.Env().Rename(work, native) == 0 ? JournalOutcome::kTakenBack
                                                                                       : JournalOutcome::kLeft;
    else if (rc != 0 && rc != kPrjNotFound)
      outcome = JournalOutcome::kLeft;
    if (lock.Release() != 0) outcome = JournalOutcome::kLeft;
    if (rc == 0 || outcome == JournalOutcome::kLeft) return outcome;
  } else if (rc != kPrjNotFound) {
    return JournalOutcome::kLeft;
  }
  // The record is gone: what was taken away goes too.
  if (Absent(work)) return JournalOutcome::kNothing;
  return RemoveTree(ctx, work) == 0 ? JournalOutcome::kCompleted : JournalOutcome::kLeft;
}

// "<journal>.new~<digits>": the temporary of a crash-safe journal write.
// *journal gets the kind and the entry the journal would have named.
bool JournalTemporaryOf(const std::string& name, OperationJournal* journal) {
  static const std::string kTemporary = ".new~";
  const size_t at = name.rfind(kTemporary);
  if (at == std::string::npos || !platform::IsProcessWorkName(name, name.substr(0, at) + kTemporary)) return false;
  const std::string journal_name = name.substr(0, at);
  if (EndsWith(journal_name, std::string(".prj") + kCreateSuffix))
    journal->kind = JournalKind::kCreate;
  else if (EndsWith(journal_name, std::string(".prj") + kEraseSuffix))
    journal->kind = JournalKind::kErase;
  else
    return false;
  journal->entry = journal_name.substr(0, journal_name.size() - 4);
  uint32_t number = 0;
  return ParseEntry(journal->entry, &number) && (journal->kind == JournalKind::kErase || number != 0);
}

// Removes an erase journal's temporary unless an erase of its record may be
// writing it now: that erase holds the record's lock. True when removed.
bool RemoveEraseTemporary(OperationContext& ctx, const std::string& native, const std::string& entry) {
  uint32_t number = 0;
  ParseEntry(entry, &number);
  UnCachPrjList(ctx);
  PRJ record;
  const int found = number != 0 ? get_PrjInfo_by_number(ctx, number, &record)
                                : get_project_info(ctx, PadName(entry.substr(0, entry.size() - 4)), &record);
  if (found == kPrjNotFound) return ctx.Env().Unlink(native) == 0;  // no record, no erase of it
  RecordLock lock;
  if (found != 0 || LockRecordByName(ctx, kSlotNet, record.name, &lock) != 0) return false;
  const bool removed = ctx.Env().Unlink(native) == 0;
  return lock.Release() == 0 && removed;
}

}  // namespace

std::string FormatOperationJournal(const OperationJournal& j) {
  return std::string(j.kind == JournalKind::kCreate ? kCreateHead : kEraseHead) + "\n" + j.host + "\n" + j.entry +
         "\n";
}

bool ParseOperationJournal(const std::string& text, OperationJournal* j) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.size() != 3) return false;
  if (lines[0] == kCreateHead)
    j->kind = JournalKind::kCreate;
  else if (lines[0] == kEraseHead)
    j->kind = JournalKind::kErase;
  else
    return false;
  j->host = lines[1];
  j->entry = lines[2];
  uint32_t number = 0;
  if (!IsValidHostName(j->host) || !ParseEntry(j->entry, &number)) return false;
  return j->kind == JournalKind::kErase || number != 0;  // a create always makes a numbered folder
}

std::string JournalFileName(const OperationJournal& j) {
  return j.entry + (j.kind == JournalKind::kCreate ? kCreateSuffix : kEraseSuffix);
}

int WriteOperationJournal(OperationContext& ctx, const OperationJournal& journal) {
  const std::string net = NetDir(ctx);
  if (net.empty()) return kPrjFailed;
  return platform::WriteFileAtomic(net + "/" + JournalFileName(journal), FormatOperationJournal(journal));
}

void RemoveOperationJournal(OperationContext& ctx, const OperationJournal& journal) {
  const std::string net = NetDir(ctx);
  // One that stays is read by the next update, which finds the project whole.
  if (!net.empty()) (void)ctx.Env().Unlink(net + "/" + JournalFileName(journal));
}

bool CreateJournalExists(OperationContext& ctx, const std::string& entry) {
  const std::string net = NetDir(ctx);
  return !net.empty() && Exists(net + "/" + entry + kCreateSuffix);
}

std::string CreateWorkName(const std::string& entry_path) { return entry_path + ".new~"; }
std::string EraseWorkName(const std::string& entry_path) { return entry_path + ".del~"; }

int ListOperationJournals(OperationContext& ctx, std::vector<std::string>* names) {
  std::vector<platform::DirEntry> entries;
  int rc = ctx.Env().ListDir(NetDir(ctx), &entries);
  if (rc) return rc;
  for (const platform::DirEntry& e : entries)
    if (EndsWith(e.name, std::string(".prj") + kCreateSuffix) || EndsWith(e.name, std::string(".prj") + kEraseSuffix))
      names->push_back(e.name);
  return 0;
}

int RemoveJournalTemporaries(OperationContext& ctx) {
  const std::string net = NetDir(ctx);
  std::vector<platform::DirEntry> entries;
  if (const int rc = net.empty() ? -ENOENT : ctx.Env().ListDir(net, &entries); rc != 0) return rc;
  int removed = 0;
  int handle = -1;
  RecordLock null_lock;  // taken once, at the first create's temporary
  bool null_locked = false, null_refused = false;
  for (const platform::DirEntry& e : entries) {
    OperationJournal journal;
    const std::string native = net + "/" + e.name;
    if (!JournalTemporaryOf(e.name, &journal) || !platform::IsRegularFileNoFollow(native)) continue;
    if (journal.kind == JournalKind::kErase) {
      removed += RemoveEraseTemporary(ctx, native, journal.entry) ? 1 : 0;
      continue;
    }
    if (null_refused) continue;
    if (!null_locked) {
      handle = open_prj_info(ctx, kSlotNet, kOpenExisting);
      // A create at work keeps the lock: its temporaries are left for the next run.
      null_refused = handle < 0 || LockNullRecord(ctx, handle, &null_lock) != 0;
      if (null_refused) continue;
      null_locked = true;
    }
    removed += ctx.Env().Unlink(native) == 0 ? 1 : 0;
  }
  if (null_locked) (void)null_lock.Release();  // removals are done; a lock that stays goes with the handle
  return removed;
}

namespace {

// The header's highest number raised to number when a record holds it.
// REQUIRES: the null record of handle is locked. False when it cannot be written.
bool RaiseHighestTo(OperationContext& ctx, int handle, uint32_t number) {
  PRJ record;
  NullRecord null_record;
  if (number == 0 || get_PrjInfo_by_number(ctx, number, &record) != 0) return true;
  if (read_null_record(handle, &null_record) != 0) return false;
  if (NullRecordHighest(null_record) >= number) return true;
  SetNullRecordHighest(&null_record, number);
  return write_null_record(ctx, handle, &null_record) == 0;
}

}  // namespace

JournalOutcome PutJournalRight(OperationContext& ctx, const std::string& file_name, OperationJournal* journal) {
  std::string text, folder;
  if (ReadJournalFile(ctx, NetDir(ctx) + "/" + file_name, &text) != 0 || !ParseOperationJournal(text, journal) ||
      JournalFileName(*journal) != file_name || HostProjectFolder(ctx, journal->host, &folder) != 0)
    return JournalOutcome::kLeft;  // not ours to judge: left for a person
  uint32_t number = 0;
  ParseEntry(journal->entry, &number);
  const std::string entry_path = folder + "\\" + journal->entry;
  JournalOutcome outcome = JournalOutcome::kLeft;
  if (journal->kind == JournalKind::kErase) {
    outcome = PutEraseRight(ctx, entry_path, journal->entry, number);
  } else {
    // Under the null record's lock: a create still running holds it.
    const int handle = open_prj_info(ctx, kSlotNet, kOpenExisting);
    RecordLock lock;
    if (handle < 0 || LockNullRecord(ctx, handle, &lock) != 0) return JournalOutcome::kLeft;
    outcome = PutCreateRight(ctx, entry_path, journal->entry, number);
    // A record the create was appending when it died is no record.
    if (outcome != JournalOutcome::kLeft && DropUnfinishedAppend(ctx, handle) != 0) outcome = JournalOutcome::kLeft;
    // A create killed after its folder went into place has not raised the
    // header's highest number to its own yet.
    if (outcome != JournalOutcome::kLeft && outcome != JournalOutcome::kTakenBack &&
        !RaiseHighestTo(ctx, handle, number))
      outcome = JournalOutcome::kLeft;
    if (lock.Release() != 0) outcome = JournalOutcome::kLeft;
  }
  if (outcome != JournalOutcome::kLeft) RemoveOperationJournal(ctx, *journal);
  return outcome;
}

}  // namespace dovrane::extlib

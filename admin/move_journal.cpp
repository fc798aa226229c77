#include "admin/move_journal.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <vector>

#include "extlib/records/administration.h"
#include "extlib/installation/host_going_out.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/project_list.h"
#include "extlib/projects/project_paths.h"
#include "extlib/installation/slot_files.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace {

constexpr char kJournalHead[] = "dovrane project move";

std::string JournalName(uint32_t number) {
  char name[16];
  std::snprintf(name, sizeof name, "n%07u.mov", number);
  return name;
}

std::string NativeJournal(extlib::OperationContext& ctx, uint32_t number) {
  std::string path;
  return extlib::lffnamC_new(ctx, extlib::kSlotNet, JournalName(number), &path) == 0 ? ctx.Native(path) : "";
}

// A journal is six short lines. Anyone may put a FIFO, a device, a link or a
// huge file under its name: only a regular file of sane size is read (the
// open does not wait for a FIFO's writer). 0 or negative.
int ReadJournalFile(extlib::OperationContext& ctx, const std::string& path, std::string* text) {
  constexpr uint64_t kLongestJournal = 4096;
  platform::Env* env = &ctx.Env();
  const int fd = env->Open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fd;
  platform::FileInfo info;
  int rc = env->FStat(fd, &info);
  if (rc == 0 && (info.type != platform::EntryType::kFile || info.size > kLongestJournal)) rc = -EINVAL;
  if (rc == 0) {
    text->assign(static_cast<size_t>(info.size), '\0');
    const int64_t n = env->PRead(fd, text->data(), text->size(), 0);
    rc = n < 0 ? static_cast<int>(n) : 0;
    if (n >= 0) text->resize(static_cast<size_t>(n));
  }
  platform::CloseNothingPending(env, fd);
  return rc;
}

// A real folder (not a symbolic link, not a file) at the Windows path; *info gets its identity.
bool Exists(extlib::OperationContext& ctx, const std::string& dir, platform::FileInfo* info) {
  return !dir.empty() && ctx.Env().Stat(ctx.Native(dir), info, false) == 0 &&
         info->type == platform::EntryType::kDirectory;
}

// The folder of project `number` below the host's project folder, or "".
std::string ProjectFolderOn(extlib::OperationContext& ctx, const std::string& host, uint32_t number) {
  std::string data_path, dir;
  extlib::PRJ probe;
  probe.number = number;
  extlib::SetPrjHost(&probe, host);
  if (extlib::get_data_path(ctx, host, &data_path) != 0 || extlib::build_prj_dir(ctx, probe, &dir) != 0) return "";
  return dir;
}

}  // namespace

bool JournalNamesItsOwnFolders(extlib::OperationContext& ctx, const MoveJournal& j) {
  if (platform::EqualsIgnoreCaseCp1252(j.old_host, j.new_host)) return false;
  const std::string old_dir = ProjectFolderOn(ctx, j.old_host, j.number),
                    new_dir = ProjectFolderOn(ctx, j.new_host, j.number);
  return !old_dir.empty() && !new_dir.empty() && j.old_dir == old_dir && j.new_dir == new_dir;
}

namespace {

// Writes the record, locked by lock, with its host changed. 0 or -1.
int SetRecordHost(extlib::OperationContext& ctx, int handle, const extlib::RecordLock& lock, extlib::PRJ record,
                  const std::string& host) {
  extlib::SetPrjHost(&record, host);
  const int rc = extlib::WriteRecordAtSlot(ctx, handle, lock.slot(), &record) == extlib::kPrjOk ? kPrjOk : kPrjFailed;
  UnCachPrjList(ctx);
  return rc;
}

// 0 when the move is put right (the journal may go), -1 otherwise. Under the
// project's record lock: a move holds it from before it writes its journal
// until it has removed it, so the journal of a record that stays locked is a
// move's still at work (its copy may be half made, its record not yet
// written), and it is left to that move.
int PutRight(const MoveJournal& j, extlib::OperationContext& ctx) {
  const int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting);
  if (handle < 0) return kPrjFailed;
  extlib::RecordLock lock;
  const int locked = extlib::LockRecordByNumber(ctx, handle, j.number, &lock);
  if (locked == kPrjNotFound) return 0;  // the project is gone: nothing to put right
  if (locked != 0) return kPrjFailed;    // a move at work, or the administration cannot be read: the journal waits
  extlib::PRJ record;
  if (extlib::ReadRecordAtSlot(handle, lock.slot(), &record) != extlib::kRecordRead || record.number != j.number)
    return kPrjFailed;
  std::string dir;
  if (extlib::build_prj_dir(ctx, record, &dir) != 0) return kPrjFailed;
  const bool at_old = platform::EqualsIgnoreCaseCp1252(dir, j.old_dir);
  const bool at_new = platform::EqualsIgnoreCaseCp1252(dir, j.new_dir);
  platform::FileInfo old_info, new_info;
  const bool old_there = Exists(ctx, j.old_dir, &old_info), new_there = Exists(ctx, j.new_dir, &new_info);
  // Both names reach one folder (one share under two host names): nothing is a copy.
  if (old_there && new_there && old_info.device == new_info.device && old_info.inode == new_info.inode) return 0;
  int rc = 0;
  if (at_old && old_there) {
    if (new_there) rc = extlib::ldirrmc(ctx, j.new_dir);  // a copy the move did not get to use
  } else if (at_old && new_there) {
    rc = SetRecordHost(ctx, handle, lock, record, j.new_host);  // the folder moved, the record did not follow
  } else if (at_new && new_there && old_there && extlib::HostGoingOut(ctx, j.new_host)) {
    // Cut short before its second look, onto a host that went out meanwhile:
    // neither the host's copy nor a mark covers the project there, so the
    // move is taken back to its source, which is whole.
    rc = SetRecordHost(ctx, handle, lock, record, j.old_host);
    if (rc == 0) rc = extlib::ldirrmc(ctx, j.new_dir);
  } else if (at_new && new_there) {
    if (old_there) rc = extlib::ldirrmc(ctx, j.old_dir);  // the source of a finished copy
  } else if (!at_old && !at_new) {
    return 0;  // moved again since: the journal is stale
  } else {
    return kPrjFailed;  // neither folder: leave the journal for a person to read
  }
  if (lock.Release() != 0) rc = kPrjFailed;
  if (rc == 0)
    ctx.Print("%s", extlib::LanguageTextWith(extlib::kRepairTexts, 13, {extlib::TrimmedName(record.name)}).c_str());
  return rc == 0 ? 0 : kPrjFailed;
}

}  // namespace

std::string FormatMoveJournal(const MoveJournal& j) {
  char number[16];
  std::snprintf(number, sizeof number, "n%07u", j.number);
  return std::string(kJournalHead) + "\n" + number + "\n" + j.old_host + "\n" + j.new_host + "\n" + j.old_dir +
         "\n" + j.new_dir + "\n";
}

bool ParseMoveJournal(const std::string& text, MoveJournal* j) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.size() != 6 || lines[0] != kJournalHead) return false;
  if (!extlib::ParseNumberText(lines[1], &j->number) || j->number == 0) return false;
  j->old_host = lines[2];
  j->new_host = lines[3];
  j->old_dir = lines[4];
  j->new_dir = lines[5];
  return extlib::IsValidHostName(j->old_host) && extlib::IsValidHostName(j->new_host) && !j->old_dir.empty() &&
         !j->new_dir.empty();
}

int WriteMoveJournal(extlib::OperationContext& ctx, const MoveJournal& journal) {
  std::string path = NativeJournal(ctx, journal.number);
  return path.empty() ? kPrjFailed : extlib::ProjectCodeFromErrno(platform::WriteFileAtomic(path, FormatMoveJournal(journal)));
}

void RemoveMoveJournal(extlib::OperationContext& ctx, uint32_t number) {
  std::string path = NativeJournal(ctx, number);
  // One that stays is read by the next update, which finds the move whole.
  if (!path.empty()) (void)ctx.Env().Unlink(path);
}

namespace {

// The number of a move journal's name "n0000001.mov" (0 when it is none).
unsigned JournalNumber(const std::string& name) {
  unsigned number = 0;
  char tail[8] = {};
  if (name.size() != 12 || std::sscanf(name.c_str(), "n%7u.%3s", &number, tail) != 2 || std::string(tail) != "mov")
    return 0;
  return number;
}

// The work file of a journal write killed before its rename. A move writes
// its journal under the project's record lock: while that lock can be taken,
// or the record is gone, no move is writing it. True when removed.
bool RemoveJournalWorkFile(extlib::OperationContext& ctx, const std::string& native, uint32_t number) {
  const int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting);
  if (handle < 0) return false;
  extlib::RecordLock lock;
  const int locked = extlib::LockRecordByNumber(ctx, handle, number, &lock);
  if (locked != 0 && locked != kPrjNotFound) return false;
  const bool removed = platform::IsRegularFileNoFollow(native) && ctx.Env().Unlink(native) == 0;
  return lock.Release() == 0 && removed;
}

}  // namespace

int CompleteInterruptedMoves(extlib::OperationContext& ctx) {
  std::vector<platform::DirEntry> entries;
  const std::string native_net = ctx.Native(extlib::lfinigC(ctx, extlib::kSlotNet));
  if (ctx.Env().ListDir(native_net, &entries) != 0) return kPrjFailed;
  int done = 0;
  for (const platform::DirEntry& e : entries) {
    if (e.name.size() > 12 && platform::IsProcessWorkName(e.name, e.name.substr(0, 12) + ".new~")) {
      if (const unsigned number = JournalNumber(e.name.substr(0, 12)); number != 0)
        (void)RemoveJournalWorkFile(ctx, native_net + "/" + e.name, number);
      continue;
    }
    const unsigned number = JournalNumber(e.name);
    if (number == 0) continue;
    std::string text;
    MoveJournal journal;
    if (ReadJournalFile(ctx, native_net + "/" + e.name, &text) != 0 || !ParseMoveJournal(text, &journal) ||
        journal.number != number)
      continue;  // not ours to judge: left for a person
    if (!JournalNamesItsOwnFolders(ctx, journal)) {
      services::ToolMessageBox(
          ctx, services::kMessageWarning, "%s",
          extlib::LanguageTextWith(extlib::kRepairTexts, 14,
                                   {e.name, extlib::NumberText(journal.number), journal.old_dir, journal.new_dir})
              .c_str());
      continue;
    }
    if (PutRight(journal, ctx) == 0) {
      RemoveMoveJournal(ctx, number);
      ++done;
    }
  }
  return done;
}

}  // namespace dovrane::admin

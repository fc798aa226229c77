#include "extlib/administration.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "extlib/hosts.h"
#include "extlib/project_list.h"
#include "extlib/record_layout.h"
#include "extlib/slot_files.h"
#include "extlib/users.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace L = layout;
using platform::CurrentEnv;

namespace {

struct AdminFile {
  int fd = -1;
  int slot = 0;
  std::string native;
  uint64_t device = 0, inode = 0;
  AdminHeader header;
  bool network = true;
  long position = 1;
  std::set<long> locked_slots;  // record slots this handle holds locks on
  bool null_locked = false;
  int64_t HeaderBytes() const { return L::kHeaderText + header.line_end; }
  int64_t LineBytes() const { return L::V3LineLength(header.user_words) + header.line_end; }
  int64_t Offset(long slot) const { return HeaderBytes() + (slot - 1) * LineBytes(); }
};

std::mutex g_mutex;
std::vector<std::unique_ptr<AdminFile>> g_files;
int g_lock_timeout_ms = 10000;
// How many whole-file rewrites one open or lock follows before it gives up.
constexpr int kMaxFollows = 50;

AdminFile* Get(int handle) {
  if (handle < 0 || handle >= static_cast<int>(g_files.size())) return nullptr;
  return g_files[handle].get();
}

// Reads the header and measures the first record line. 0 or -1.
int ReadLayout(AdminFile* f) {
  char head[12];
  int64_t n = CurrentEnv()->PRead(f->fd, head, sizeof head, 0);
  if (n < 11 || ParseHeaderBytes(head, static_cast<size_t>(n), &f->header) != 0 ||
      f->header.version != L::kCurrentVersion)
    return -1;
  const int containers = lzuGetCountOfUserContainers();
  char probe[L::kV3ProbeBytes];
  n = CurrentEnv()->PRead(f->fd, probe, sizeof probe, f->HeaderBytes());
  if (n < 0) return -1;
  const char end = f->header.line_end == 2 ? '\r' : '\n';
  const char* found = n > 0 ? static_cast<const char*>(std::memchr(probe, end, static_cast<size_t>(n))) : nullptr;
  // No record yet, or only a first line that a crash cut short while it was
  // appended (the next append writes that slot whole): the installation's layout.
  if (n == 0 || (!found && n < L::V3LineLength(containers) + f->header.line_end)) {
    f->header.user_words = containers;
    return 0;
  }
  if (!found) return -1;
  f->header.user_words = L::V3ContainersOfLength(found - probe);
  return f->header.user_words == containers ? 0 : -1;
}

// Opens the file at f->native and reads its layout. A layout that is not
// the installation's may be a conversion under way (it holds the whole file
// locked and renames the new file into place): wait for its lock as a
// writer does, then look once more. 0 or -1.
int OpenAtPath(AdminFile* f) {
  for (int attempt = 0; attempt < kMaxFollows; ++attempt) {
    f->fd = platform::OpenRegularFile(f->native, O_RDWR);
    if (f->fd < 0) return -1;
    platform::FileInfo info;
    if (CurrentEnv()->FStat(f->fd, &info) == 0 && ReadLayout(f) == 0) {
      f->device = info.device;
      f->inode = info.inode;
      return 0;
    }
    // Look again only when a rewrite was under way or has replaced the file.
    const bool again = platform::WaitForWholeFileLock(f->fd, g_lock_timeout_ms) ||
                       !platform::IsFileAtPath(f->fd, f->native);
    CurrentEnv()->Close(f->fd);
    f->fd = -1;
    if (!again) break;
  }
  return -1;
}

// The open file is still the one at the path.
bool StillAtPath(const AdminFile* f) {
  platform::FileInfo info;
  return CurrentEnv()->Stat(f->native, &info) == 0 && info.inode == f->inode && info.device == f->device;
}

// Opens the file that replaced f's. REQUIRES: f holds no lock. 0 or -1.
int Reopen(AdminFile* f) {
  AdminFile fresh;
  fresh.slot = f->slot;
  fresh.native = f->native;
  fresh.network = f->network;
  if (OpenAtPath(&fresh) != 0) return -1;
  CurrentEnv()->Close(f->fd);
  f->fd = fresh.fd;
  f->device = fresh.device;
  f->inode = fresh.inode;
  f->header = fresh.header;
  return 0;
}

int OpenFile(int slot, const std::string& path) {
  auto f = std::make_unique<AdminFile>();
  f->slot = slot;
  f->native = platform::NativePath(path);
  f->network = lfnetg() != 0;
  if (OpenAtPath(f.get()) != 0) return -1;
  for (size_t i = 0; i < g_files.size(); ++i)
    if (!g_files[i]) {
      g_files[i] = std::move(f);
      return static_cast<int>(i);
    }
  g_files.push_back(std::move(f));
  return static_cast<int>(g_files.size() - 1);
}

void CloseLocked(int handle) {
  AdminFile* f = Get(handle);
  if (!f) return;
  CurrentEnv()->Close(f->fd);  // releases every lock of this description
  g_files[handle].reset();
}

int LockRange(AdminFile* f, int64_t start, int64_t length, bool lock) {
  return CurrentEnv()->Lock(f->fd, start, length, lock ? platform::LockMode::kExclusive : platform::LockMode::kUnlock,
                            g_lock_timeout_ms);
}

// Locks a range of the file at f's path. A writer that waited for its lock
// while a conversion renamed a new file into place holds the lock on the old
// one, and what it wrote there would be lost: it opens the new file and
// locks there. range() gives (start, length) for the current layout.
// 0, -7 (not lockable in time) or -1 (the new file cannot be opened).
template <typename Range>
int LockAtPath(AdminFile* f, Range range) {
  // Each round waits for one rewrite to end; rewrites one after another
  // (user count changes in a loop) may need several.
  for (int attempt = 0; attempt < kMaxFollows; ++attempt) {
    const auto [start, length] = range();
    if (LockRange(f, start, length, true) != 0) return -7;
    if (StillAtPath(f)) return 0;
    LockRange(f, start, length, false);
    // Locks held on the old file cannot move with it.
    if (!f->locked_slots.empty() || f->null_locked || Reopen(f) != 0) return -1;
  }
  return -7;
}

int ReadSlot(AdminFile* f, long slot, PRJ* record) {
  const int64_t bytes = f->LineBytes();
  std::vector<char> line(static_cast<size_t>(bytes));
  int64_t n = CurrentEnv()->PRead(f->fd, line.data(), line.size(), f->Offset(slot));
  if (n < 0) return -1;
  const size_t len = static_cast<size_t>(L::V3LineLength(f->header.user_words));
  if (n < bytes) {
    // A complete last record whose line end an editor dropped is a record;
    // anything shorter is an append a crash cut short: no record there.
    if (!UnterminatedRecord(line.data(), static_cast<size_t>(n), len, f->header.line_end)) return 1;
    return ParseRecordV3(line.data(), len, f->header.user_words, f->header.user_words, f->network, record) == 0 ? 0 : 1;
  }
  if (line[len] != (f->header.line_end == 2 ? '\r' : '\n')) return -10;
  return ParseRecordV3(line.data(), len, f->header.user_words, f->header.user_words, f->network, record);
}

// Writes count records into consecutive slots from first with one write and
// one flush, read back. Slots the caller has not locked are locked for it.
int WriteSlots(AdminFile* f, long first, const PRJ* records, size_t count, const NullRecord* null_record = nullptr) {
  if (count == 0) return 0;
  const bool temporary = count > 1 || !f->locked_slots.count(first);
  // The range is taken at the path's file: the layout may change with it.
  auto range = [&] { return std::pair{f->Offset(first), f->LineBytes() * static_cast<int64_t>(count)}; };
  if (temporary && LockAtPath(f, range) != 0) return -7;
  std::string lines;
  const char* end = f->header.line_end == 2 ? "\r\n" : "\n";
  bool formatted = true;
  for (size_t i = 0; i < count && formatted; ++i) {
    std::string line;
    formatted = FormatRecordV3(records[i], f->header.user_words, &line);
    lines += line;
    lines += end;
  }
  const int64_t offset = f->Offset(first);
  const int64_t bytes = static_cast<int64_t>(lines.size());
  auto unlock = [&](int rc) {
    if (temporary) LockRange(f, range().first, range().second, false);
    return rc;
  };
  if (!formatted) return unlock(-1);
  platform::FileInfo info;
  if (CurrentEnv()->FStat(f->fd, &info) != 0) return unlock(-1);
  // A last record without its line end gets it with the append that follows it.
  std::string missing_end;
  if (static_cast<int64_t>(info.size) < offset) {
    const int64_t gap = offset - static_cast<int64_t>(info.size);
    PRJ last;
    if (gap > f->header.line_end || first < 2 || ReadSlot(f, first - 1, &last) != 0) return unlock(-1);
    missing_end.assign(end + (f->header.line_end - gap), static_cast<size_t>(gap));
  }
  const int64_t start = offset - static_cast<int64_t>(missing_end.size());
  // What the slots held, so that a failed write can be undone: a torn line
  // could read as another record (or as deleted).
  std::string before(lines.size(), '\0');
  const int64_t had = missing_end.empty() ? CurrentEnv()->PRead(f->fd, before.data(), before.size(), offset) : 0;
  int rc = had < 0 ? -1 : 0;
  if (rc == 0) {
    const std::string out = missing_end + lines;
    if (CurrentEnv()->PWrite(f->fd, out.data(), out.size(), start) != static_cast<int64_t>(out.size())) rc = -1;
  }
  // One flush for both: a crash may keep either without the other, which
  // is harmless (a number above the highest is passed over when choosing).
  std::string old_header(L::kHeaderText, '\0');
  if (rc == 0 && null_record) {
    std::string text = FormatHeader(null_record->version, NullRecordHighest(*null_record), f->header.line_end);
    if (CurrentEnv()->PRead(f->fd, old_header.data(), L::kHeaderText, 0) != L::kHeaderText ||
        CurrentEnv()->PWrite(f->fd, text.data(), L::kHeaderText, 0) != L::kHeaderText)
      rc = -1;
  }
  if (rc == 0 && CurrentEnv()->Sync(f->fd) != 0) rc = -1;
  if (rc == 0) {
    std::string back(lines.size(), '\0');
    if (CurrentEnv()->PRead(f->fd, back.data(), back.size(), offset) != bytes || back != lines) rc = -1;
  }
  if (rc != 0 && had >= 0) {
    if (null_record && old_header[0] != '\0') CurrentEnv()->PWrite(f->fd, old_header.data(), L::kHeaderText, 0);
    CurrentEnv()->PWrite(f->fd, before.data(), static_cast<size_t>(had), offset);
    // Slots that were past the end were an append: take it back.
    if (had < bytes) CurrentEnv()->Truncate(f->fd, static_cast<int64_t>(info.size));
    CurrentEnv()->Sync(f->fd);
  }
  UnCachPrjList();
  return unlock(rc);
}

int WriteSlot(AdminFile* f, long slot, const PRJ& record) { return WriteSlots(f, slot, &record, 1); }

}  // namespace

void SetRecordLockTimeoutMs(int ms) { g_lock_timeout_ms = ms; }
int RecordLockTimeoutMs() { return g_lock_timeout_ms; }

int open_prj_info(int slot, int mode) {
  std::string path;
  if (lffnamC_new(slot, kAdministrationFile, &path)) return -1;
  std::lock_guard<std::mutex> guard(g_mutex);
  if (mode == kCreateEmpty) {
    std::string native = platform::NativePath(path);
    platform::FileInfo info;
    if (CurrentEnv()->Stat(native, &info) == 0) return -1;
    if (platform::WriteFileAtomic(native, FormatHeader(L::kCurrentVersion, 0, 2)) != 0) return -1;
    UnCachPrjList();
    return OpenFile(slot, path);
  }
  std::string native = platform::NativePath(path);
  for (size_t i = 0; i < g_files.size(); ++i) {
    AdminFile* f = g_files[i].get();
    if (!f || f->slot != slot) continue;
    platform::FileInfo info;
    bool same = f->native == native && CurrentEnv()->Stat(native, &info) == 0 && info.inode == f->inode;
    if (same || !f->locked_slots.empty() || f->null_locked) return static_cast<int>(i);
    CloseLocked(static_cast<int>(i));  // the file was replaced: open the new one
  }
  return OpenFile(slot, path);
}

int close_prj_info(int handle) {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (!Get(handle)) return -1;
  CloseLocked(handle);
  return 0;
}

int close_prj_info_handle(int slot) {
  std::lock_guard<std::mutex> guard(g_mutex);
  for (size_t i = 0; i < g_files.size(); ++i)
    if (g_files[i] && g_files[i]->slot == slot) CloseLocked(static_cast<int>(i));
  return 0;
}

int seek_prj_set(int handle, long slot) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  if (!f || slot < 1) return -1;
  f->position = slot;
  return 0;
}

long CurrentRecordSlot(int handle) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  return f ? f->position : -1;
}

long RecordSlotCount(int handle) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  platform::FileInfo info;
  if (!f || CurrentEnv()->FStat(f->fd, &info) != 0) return -1;
  int64_t body = static_cast<int64_t>(info.size) - f->HeaderBytes();
  if (body <= 0) return 0;
  long count = static_cast<long>(body / f->LineBytes());
  // A complete last record without its line end is a slot too.
  PRJ last;
  if (body % f->LineBytes() != 0 && ReadSlot(f, count + 1, &last) == 0) ++count;
  return count;
}

const AdminHeader* HandleHeader(int handle) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  return f ? &f->header : nullptr;
}

int read_prj_info(int handle, PRJ* record) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  if (!f) return -1;
  int rc = ReadSlot(f, f->position, record);
  if (rc == 0) ++f->position;
  return rc;
}

int write_prj_info(int handle, const PRJ* record) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  if (!f || !record) return -1;
  int rc = WriteSlot(f, f->position, *record);
  if (rc == 0) ++f->position;
  return rc;
}

int write_PrjInfo(int handle, const PRJ* record) { return write_prj_info(handle, record); }

int write_prj_records(int handle, long first_slot, const PRJ* records, size_t count, const NullRecord* null_record) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  if (!f || first_slot < 1 || (count > 0 && !records)) return -1;
  if (null_record && (!f->null_locked || null_record->version != L::kCurrentVersion)) return -1;
  return WriteSlots(f, first_slot, records, count, null_record);
}

int ReadRecordAtSlot(int handle, long slot, PRJ* record) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  return f && slot >= 1 ? ReadSlot(f, slot, record) : -1;
}

int LockRecordSlot(int handle, long slot, int mode) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  if (!f || slot < 1) return -1;
  if (mode == kUnlockRecord) {
    if (!f->locked_slots.erase(slot)) return 0;
    return LockRange(f, f->Offset(slot), f->LineBytes(), false) == 0 ? 0 : -7;
  }
  if (f->locked_slots.count(slot)) return 0;
  int rc = LockAtPath(f, [&] { return std::pair{f->Offset(slot), f->LineBytes()}; });
  if (rc != 0) return rc;
  f->locked_slots.insert(slot);
  return 0;
}

namespace {

// Finds the slot of a record (by number or name; find gives 0 or the
// lookup's code), locks it and checks that the record is still there; the
// list is rebuilt once when it was stale.
template <typename Find, typename Matches>
int LockFound(int handle, Find find, Matches matches) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    long slot = -1;
    if (int rc = find(&slot); rc != 0) return rc;
    if (LockRecordSlot(handle, slot, kLockRecord) != 0) return -7;
    PRJ record;
    int rc;
    {
      std::lock_guard<std::mutex> guard(g_mutex);
      rc = ReadSlot(Get(handle), slot, &record);
    }
    if (rc == 0 && !IsDeleted(record) && matches(record)) return 0;
    LockRecordSlot(handle, slot, kUnlockRecord);
    UnCachPrjList();
  }
  return -3;
}

template <typename Find>
int UnlockFound(int handle, Find find) {
  long slot = -1;
  int rc = find(&slot);
  return rc != 0 ? rc : LockRecordSlot(handle, slot, kUnlockRecord);
}

}  // namespace

int lock_prj_info(int handle, uint32_t number, int mode) {
  if (!Get(handle)) return -1;
  auto find = [&](long* slot) { return (*slot = FindRecordSlotByNumber(number)) < 1 ? -3 : 0; };
  if (mode == kUnlockRecord) return UnlockFound(handle, find);
  return LockFound(handle, find, [&](const PRJ& r) { return r.number == number; });
}

int lock_prj_nam(int slot, const std::string& name, int mode) {
  int handle = open_prj_info(slot, kOpenExisting);
  // A file that is there but does not open is unreadable, not missing.
  if (handle < 0) return lftypeC(slot, kAdministrationFile, 0) == -2 ? -2 : -1;
  const std::string padded = PadName(name);
  // An unreadable list is -1: no record found in it does not mean there is none.
  auto find = [&](long* found) { return FindProjectSlot(handle, padded, found); };
  if (mode == kUnlockRecord) return UnlockFound(handle, find);
  return LockFound(handle, find, [&](const PRJ& r) { return padded == r.name; });
}

int lock_null_record(int handle, int mode) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  if (!f) return -1;
  if (mode == kUnlockRecord) {
    if (!f->null_locked) return 0;
    f->null_locked = false;
    return LockRange(f, 0, f->HeaderBytes(), false) == 0 ? 0 : -7;
  }
  if (f->null_locked) return 0;
  int rc = LockAtPath(f, [&] { return std::pair{int64_t{0}, f->HeaderBytes()}; });
  if (rc != 0) return rc;
  f->null_locked = true;
  return 0;
}

int DropUnfinishedAppend(int handle) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  platform::FileInfo info;
  if (!f || !f->null_locked || CurrentEnv()->FStat(f->fd, &info) != 0) return -1;
  const int64_t size = static_cast<int64_t>(info.size), first = f->Offset(1), line = f->LineBytes();
  if (size <= first) return 0;
  const int64_t tail = (size - first) % line;
  if (tail == 0 || tail >= line - f->header.line_end) return 0;
  int rc = CurrentEnv()->Truncate(f->fd, size - tail) == 0 && CurrentEnv()->Sync(f->fd) == 0 ? 0 : -1;
  UnCachPrjList();
  return rc;
}

int read_null_record(int handle, NullRecord* null_record) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  if (!f) return -1;
  char head[12];
  int64_t n = CurrentEnv()->PRead(f->fd, head, sizeof head, 0);
  AdminHeader h;
  if (n < 11) return -1;
  ParseHeaderBytes(head, static_cast<size_t>(n), &h);
  null_record->version = h.version;
  SetNullRecordHighest(null_record, h.highest);
  return 0;
}

int write_null_record(int handle, const NullRecord* null_record) {
  std::lock_guard<std::mutex> guard(g_mutex);
  AdminFile* f = Get(handle);
  if (!f || null_record->version != L::kCurrentVersion) return -1;
  std::string text = FormatHeader(null_record->version, NullRecordHighest(*null_record), f->header.line_end);
  const bool temporary = !f->null_locked;
  if (temporary && LockAtPath(f, [&] { return std::pair{int64_t{0}, f->HeaderBytes()}; }) != 0) return -7;
  int rc = CurrentEnv()->PWrite(f->fd, text.data(), L::kHeaderText, 0) == L::kHeaderText ? 0 : -1;
  if (rc == 0 && CurrentEnv()->Sync(f->fd) != 0) rc = -1;
  if (temporary) LockRange(f, 0, f->HeaderBytes(), false);
  UnCachPrjList();
  return rc;
}

}  // namespace dovrane::extlib

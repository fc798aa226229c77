#include "extlib/records/administration.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration_files.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_layout.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace L = layout;
using platform::CurrentEnv;
using namespace admin_files;

namespace {

// Serializes the creation of empty administrations in this process.
std::mutex g_create_mutex;

int ReadSlot(const AdminFile& f, long slot, PRJ* record) {
  const OpenedFile& o = f.file;
  const int64_t bytes = o.LineBytes();
  std::vector<char> line(static_cast<size_t>(bytes));
  int64_t n = o.Env().PRead(o.fd, line.data(), line.size(), o.Offset(slot));
  if (n < 0) return kPrjFailed;
  const size_t len = static_cast<size_t>(L::V3LineLength(o.header.user_words));
  if (n < bytes) {
    // A complete last record whose line end an editor dropped is a record;
    // anything shorter is an append a crash cut short: no record there.
    if (!UnterminatedRecord(line.data(), static_cast<size_t>(n), len, o.header.line_end)) return kRecordEnd;
    return ParseRecordV3(line.data(), len, o.header.user_words, o.header.user_words, f.network, record) == kLineParsed
               ? kRecordRead
               : kRecordEnd;
  }
  if (line[len] != (o.header.line_end == 2 ? '\r' : '\n')) return kRecordLineEndMisplaced;
  return ParseRecordV3(line.data(), len, o.header.user_words, o.header.user_words, f.network, record);
}

// Writes count records into consecutive slots from first with one write and
// one flush, read back. Slots this thread has not locked are locked for the
// write. Ends with the file's mutex released and the list dropped.
int WriteSlots(OperationContext& ctx, Locked& l, long first, const PRJ* records, size_t count,
               const NullRecord* null_record = nullptr) {
  if (count == 0) return kPrjOk;
  AdminFile* f = l.f.get();
  const Owner& me = CurrentOwner();
  bool all_held = true;
  for (long s = first; s < first + static_cast<long>(count); ++s) all_held = all_held && HeldBy(*f, s, me);
  std::vector<long> added;
  // The range is taken at the path's file: the layout may change with it.
  if (!all_held && AcquireSlots(ctx, f, l.lock, first, static_cast<long>(count), &added) != 0) return kPrjLockFailed;
  const OpenedFile& o = f->file;
  std::string lines;
  const char* end = o.header.line_end == 2 ? "\r\n" : "\n";
  bool formatted = true;
  for (size_t i = 0; i < count && formatted; ++i) {
    std::string line;
    formatted = FormatRecordV3(records[i], o.header.user_words, &line);
    lines += line;
    lines += end;
  }
  const int64_t offset = o.Offset(first);
  const int64_t bytes = static_cast<int64_t>(lines.size());
  auto unlock = [&](int rc) {
    if (!all_held) {
      UnlockSlots(f, first, static_cast<long>(count));
      for (long s : added) f->claims.erase(s);
    }
    l.lock.unlock();
    UnCachPrjList(ctx);
    return rc;
  };
  if (!formatted) return unlock(kPrjFailed);
  platform::FileInfo info;
  if (ctx.Env().FStat(o.fd, &info) != 0) return unlock(kPrjFailed);
  // A last record without its line end gets it with the append that follows it.
  std::string missing_end;
  if (static_cast<int64_t>(info.size) < offset) {
    const int64_t gap = offset - static_cast<int64_t>(info.size);
    PRJ last;
    if (gap > o.header.line_end || first < 2 || ReadSlot(*f, first - 1, &last) != 0) return unlock(kPrjFailed);
    missing_end.assign(end + (o.header.line_end - gap), static_cast<size_t>(gap));
  }
  const int64_t start = offset - static_cast<int64_t>(missing_end.size());
  // What the slots held, so that a failed write can be undone: a torn line
  // could read as another record (or as deleted).
  std::string before(lines.size(), '\0');
  const int64_t had = missing_end.empty() ? ctx.Env().PRead(o.fd, before.data(), before.size(), offset) : 0;
  int rc = had < 0 ? kPrjFailed : kPrjOk;
  if (rc == 0) {
    const std::string out = missing_end + lines;
    if (ctx.Env().PWrite(o.fd, out.data(), out.size(), start) != static_cast<int64_t>(out.size())) rc = kPrjFailed;
  }
  // One flush for both: a crash may keep either without the other, which
  // is harmless (a number above the highest is passed over when choosing).
  std::string old_header(L::kHeaderText, '\0');
  if (rc == 0 && null_record) {
    std::string text = FormatHeader(null_record->version, NullRecordHighest(*null_record), o.header.line_end);
    if (ctx.Env().PRead(o.fd, old_header.data(), L::kHeaderText, 0) != L::kHeaderText ||
        ctx.Env().PWrite(o.fd, text.data(), L::kHeaderText, 0) != L::kHeaderText)
      rc = kPrjFailed;
  }
  if (rc == 0 && ctx.Env().Sync(o.fd) != 0) rc = kPrjFailed;
  if (rc == 0) {
    std::string back(lines.size(), '\0');
    if (ctx.Env().PRead(o.fd, back.data(), back.size(), offset) != bytes || back != lines) rc = kPrjFailed;
  }
  if (rc != 0 && had >= 0) {
    // Putting the old bytes back is all a failed write can still try.
    if (null_record && old_header[0] != '\0') (void)ctx.Env().PWrite(o.fd, old_header.data(), L::kHeaderText, 0);
    (void)ctx.Env().PWrite(o.fd, before.data(), static_cast<size_t>(had), offset);
    // Slots that were past the end were an append: take it back.
    if (had < bytes) (void)ctx.Env().Truncate(o.fd, static_cast<int64_t>(info.size));
    (void)ctx.Env().Sync(o.fd);
  }
  return unlock(rc);
}

}  // namespace

int open_prj_info(OperationContext& ctx, int slot, int mode) {
  std::string path;
  if (lffnamC_new(ctx, slot, kAdministrationFile, &path)) return kPrjFailed;
  std::string native = ctx.Native(path);
  if (mode == kCreateEmpty) {
    std::lock_guard<std::mutex> guard(g_create_mutex);
    platform::FileInfo info;
    if (ctx.Env().Stat(native, &info) == 0) return kPrjFailed;
    if (platform::WriteFileAtomic(native, FormatHeader(L::kCurrentVersion, 0, 2)) != 0) return kPrjFailed;
    UnCachPrjList(ctx);
    return OpenNew(ctx, slot, path, true);
  }
  return OpenSlot(ctx, slot, path, native);
}

int AdministrationOpenFailure(OperationContext& ctx, int slot) {
  // A file that is there but does not open is unreadable, not missing.
  return lftypeC(ctx, slot, kAdministrationFile, 0) == kPrjAdminMissing ? kPrjAdminMissing : kPrjFailed;
}

int close_prj_info(int handle) { return CloseHandle(handle); }

int close_prj_info_handle(int slot) {
  CloseSlot(slot);
  return kPrjOk;
}

int seek_prj_set(int handle, long slot) {
  FilePtr f = Find(handle);
  if (!f || slot < 1) return kPrjFailed;
  PositionOf(handle, *f) = slot;
  return kPrjOk;
}

long CurrentRecordSlot(int handle) {
  FilePtr f = Find(handle);
  return f ? PositionOf(handle, *f) : long{kPrjFailed};
}

long RecordSlotCount(int handle) {
  Locked l = LockFile(handle);
  platform::FileInfo info;
  if (!l || l.f->file.Env().FStat(l.f->file.fd, &info) != 0) return kPrjFailed;
  const OpenedFile& o = l.f->file;
  int64_t body = static_cast<int64_t>(info.size) - o.HeaderBytes();
  if (body <= 0) return 0;
  long count = static_cast<long>(body / o.LineBytes());
  // A complete last record without its line end is a slot too.
  PRJ last;
  if (body % o.LineBytes() != 0 && ReadSlot(*l.f, count + 1, &last) == 0) ++count;
  return count;
}

int HandleHeader(int handle, AdminHeader* header) {
  Locked l = LockFile(handle);
  if (!l) return kPrjFailed;
  *header = l.f->file.header;
  return kPrjOk;
}

int read_prj_info(int handle, PRJ* record) {
  Locked l = LockFile(handle);
  if (!l) return kPrjFailed;
  long& position = PositionOf(handle, *l.f);
  int rc = ReadSlot(*l.f, position, record);
  if (rc == 0) ++position;
  return rc;
}

int write_prj_info(OperationContext& ctx, int handle, const PRJ* record) {
  Locked l = LockFile(handle);
  if (!l || !record) return kPrjFailed;
  long& position = PositionOf(handle, *l.f);
  int rc = WriteSlots(ctx, l, position, record, 1);
  if (rc == 0) ++position;
  return rc;
}

int write_PrjInfo(OperationContext& ctx, int handle, const PRJ* record) { return write_prj_info(ctx, handle, record); }

int WriteRecordAtSlot(OperationContext& ctx, int handle, long slot, const PRJ* record) {
  Locked l = LockFile(handle);
  if (!l || !record || slot < 1) return kPrjFailed;
  return WriteSlots(ctx, l, slot, record, 1);
}

int write_prj_records(OperationContext& ctx, int handle, long first_slot, const PRJ* records, size_t count,
                      const NullRecord* null_record) {
  Locked l = LockFile(handle);
  if (!l || first_slot < 1 || (count > 0 && !records)) return kPrjFailed;
  if (null_record &&
      (!HeldBy(*l.f, 0, CurrentOwner()) || null_record->version != L::kCurrentVersion))
    return kPrjFailed;
  return WriteSlots(ctx, l, first_slot, records, count, null_record);
}

int WriteRecordsAtSlots(OperationContext& ctx, int handle, const long* slots, const PRJ* records, size_t count) {
  Locked l = LockFile(handle);
  if (!l || (count > 0 && (!slots || !records))) return kPrjFailed;
  if (count == 0) return kPrjOk;
  AdminFile* f = l.f.get();
  const Owner& me = CurrentOwner();
  for (size_t i = 0; i < count; ++i)
    if (slots[i] < 1 || !HeldBy(*f, slots[i], me)) return kPrjLockFailed;
  const OpenedFile& o = f->file;
  const int64_t line_bytes = o.LineBytes();
  // The lines in slot order; a slot named twice is refused.
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return slots[a] < slots[b]; });
  const char* end = o.header.line_end == 2 ? "\r\n" : "\n";
  std::vector<std::string> lines(count);
  for (size_t k = 0; k < count; ++k) {
    if (k > 0 && slots[order[k]] == slots[order[k - 1]]) return kPrjFailed;
    if (!FormatRecordV3(records[order[k]], o.header.user_words, &lines[k])) return kPrjFailed;
    lines[k] += end;
    if (static_cast<int64_t>(lines[k].size()) != line_bytes) return kPrjFailed;
  }
  const long first = slots[order.front()], last = slots[order.back()];
  const int64_t span_start = o.Offset(first), span_bytes = o.Offset(last) + line_bytes - span_start;
  platform::FileInfo info;
  if (ctx.Env().FStat(o.fd, &info) != 0 || span_start + span_bytes > static_cast<int64_t>(info.size)) return kPrjFailed;
  // The span as it was, read once, so that a failed write can be undone.
  std::string before(static_cast<size_t>(span_bytes), '\0');
  if (ctx.Env().PRead(o.fd, before.data(), before.size(), span_start) != span_bytes) return kPrjFailed;
  std::string after = before;
  for (size_t k = 0; k < count; ++k)
    after.replace(static_cast<size_t>(o.Offset(slots[order[k]]) - span_start), lines[k].size(), lines[k]);
  // Whether the run ending at slot `last` and the one from `next` go in one
  // write from `first`: the slots between are this thread's too, so their
  // bytes read above are theirs now and go back unchanged.
  auto joins = [&](long first, long last, long next) {
    if (next == last + 1) return true;
    if ((next - last - 1) * line_bytes > kJoinedGapBytes || (next - first + 1) * line_bytes > kJoinedWriteBytes)
      return false;
    for (long s = last + 1; s < next; ++s)
      if (!HeldBy(*f, s, me)) return false;
    return true;
  };
  // Each run of neighbouring slots in one write, joined runs too.
  auto write_runs = [&](const std::string& bytes) {
    int rc = kPrjOk;
    for (size_t k = 0; k < count && rc == kPrjOk;) {
      size_t j = k + 1;
      while (j < count && joins(slots[order[k]], slots[order[j - 1]], slots[order[j]])) ++j;
      const int64_t at = o.Offset(slots[order[k]]);
      const size_t n = static_cast<size_t>(o.Offset(slots[order[j - 1]]) + line_bytes - at);
      if (ctx.Env().PWrite(o.fd, bytes.data() + (at - span_start), n, at) != static_cast<int64_t>(n))
        rc = kPrjFailed;
      k = j;
    }
    return rc;
  };
  int rc = write_runs(after);
  if (rc == kPrjOk && ctx.Env().Sync(o.fd) != 0) rc = kPrjFailed;
  if (rc == kPrjOk) {
    std::string back(static_cast<size_t>(span_bytes), '\0');
    if (ctx.Env().PRead(o.fd, back.data(), back.size(), span_start) != span_bytes) rc = kPrjFailed;
    for (size_t k = 0; k < count && rc == kPrjOk; ++k) {
      const size_t at = static_cast<size_t>(o.Offset(slots[order[k]]) - span_start);
      if (back.compare(at, lines[k].size(), lines[k]) != 0) rc = kPrjFailed;
    }
  }
  if (rc != kPrjOk) {
    // Putting the old bytes back is all a failed write can still try.
    (void)write_runs(before);
    (void)ctx.Env().Sync(o.fd);
  }
  l.lock.unlock();
  UnCachPrjList(ctx);
  return rc;
}

int ReadRecordAtSlot(int handle, long slot, PRJ* record) {
  Locked l = LockFile(handle);
  return l && slot >= 1 ? ReadSlot(*l.f, slot, record) : kPrjFailed;
}

namespace {

// Takes this thread's lasting lock of a slot (0: the null record).
int TakeSlot(OperationContext& ctx, int handle, long slot) {
  Locked l = LockFile(handle);
  if (!l || slot < 0) return kPrjFailed;
  return TakeHeld(ctx, l.f.get(), l.lock, slot);
}

// Releases the lock that owner holds on the slot of the file that was
// locked; a file closed since took its locks with it.
int ReleaseSlot(int handle, long slot, uint64_t file_id, const Owner& owner) {
  Locked l = LockFile(handle);
  if (!l || l.f->id != file_id) return kPrjOk;
  return ReleaseHeld(l.f.get(), slot, owner);
}

uint64_t FileIdOf(int handle) {
  FilePtr f = Find(handle);
  return f ? f->id : 0;
}

// Remembers which record a lock was taken for, so an unlock by name or
// number finds it whatever has been written into the slot since.
void NoteLockedRecord(int handle, long slot, const PRJ& record) {
  Locked l = LockFile(handle);
  if (!l) return;
  auto it = l.f->claims.find(slot);
  if (it == l.f->claims.end()) return;
  it->second.name.assign(record.name, strnlen(record.name, sizeof record.name));
  it->second.number = record.number;
}

// Finds the slot of a record (by number or name; find gives 0 or the
// lookup's code), locks it and checks that the record is still there; the
// list is rebuilt once when it was stale. *locked: the slot.
template <typename Find, typename Matches>
int LockFound(OperationContext& ctx, int handle, Find find, Matches matches, long* locked) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    long slot = -1;
    if (int rc = find(&slot); rc != 0) return rc;
    if (slot < 1) return kPrjNotFound;
    const bool held_before = [&] {
      Locked l = LockFile(handle);
      return l && HeldBy(*l.f, slot, CurrentOwner());
    }();
    if (TakeSlot(ctx, handle, slot) != 0) return kPrjLockFailed;
    PRJ record;
    int rc = ReadRecordAtSlot(handle, slot, &record);
    if (rc == 0 && !IsDeleted(record) && matches(record)) {
      NoteLockedRecord(handle, slot, record);
      *locked = slot;
      return kPrjOk;
    }
    // A lock this thread held before the call stays held.
    if (!held_before) (void)ReleaseSlot(handle, slot, FileIdOf(handle), CurrentOwner());
    UnCachPrjList(ctx);
  }
  return kPrjNotFound;
}

// Releases the lock this thread holds for the record locked under that
// name or number: the slot is taken from the lock, not from the file.
template <typename Matches>
int ReleaseLockedRecord(int handle, Matches matches) {
  long slot = -1;
  uint64_t id = 0;
  {
    Locked l = LockFile(handle);
    if (!l) return kPrjFailed;
    const Owner& me = CurrentOwner();
    for (const auto& [s, claim] : l.f->claims)
      if (s > 0 && claim.held && claim.owner == me && matches(claim)) {
        slot = s;
        break;
      }
    id = l.f->id;
  }
  return slot < 1 ? kPrjOk : ReleaseSlot(handle, slot, id, CurrentOwner());
}

int NameLookup(OperationContext& ctx, int handle, const std::string& padded, long* found) {
  return FindProjectSlot(ctx, handle, padded, found);
}

int NumberLookup(OperationContext& ctx, uint32_t number, long* slot) {
  return (*slot = FindRecordSlotByNumber(ctx, number)) < 1 ? kPrjNotFound : kPrjOk;
}

// The handle of the slot's administration for a lock by name, or the code.
int HandleForName(OperationContext& ctx, int slot) {
  int handle = open_prj_info(ctx, slot, kOpenExisting);
  return handle < 0 ? AdministrationOpenFailure(ctx, slot) : handle;
}

}  // namespace

RecordRangeLocks::~RecordRangeLocks() {
  // An early return's release; the normal path calls Release and answers its result.
  (void)Release();
}

int RecordRangeLocks::Take(int handle, const long* slots, size_t count, std::vector<bool>* locked) {
  locked->assign(count, false);
  Locked l = LockFile(handle);
  if (!l) return kPrjFailed;
  if (handle_ >= 0 && (handle_ != handle || file_id_ != l.f->id)) return kPrjFailed;  // one file a set
  handle_ = handle;
  file_id_ = l.f->id;
  const int64_t line_bytes = l.f->file.LineBytes();
  for (size_t k = 0; k < count;) {
    size_t j = k + 1;
    while (j < count && slots[j] > slots[j - 1] && (slots[j] - slots[j - 1] - 1) * line_bytes <= kJoinedGapBytes &&
           (slots[j] - slots[k] + 1) * line_bytes <= kJoinedWriteBytes)
      ++j;
    const long first = slots[k], slots_in_range = slots[j - 1] - first + 1;
    if (j - k > 1 && TryTakeHeldRange(l.f.get(), first, slots_in_range) == kPrjOk) {
      ranges_.emplace_back(first, slots_in_range);
      std::fill(locked->begin() + static_cast<long>(k), locked->begin() + static_cast<long>(j), true);
    }
    k = j;
  }
  return kPrjOk;
}

int RecordRangeLocks::Release() {
  if (ranges_.empty()) return kPrjOk;
  int rc = kPrjOk;
  {
    Locked l = LockFile(handle_);
    // A file closed since took its locks with it.
    if (l && l.f->id == file_id_)
      for (const auto& [first, count] : ranges_)
        if (ReleaseHeldRange(l.f.get(), first, count, CurrentOwner()) != kPrjOk) rc = kPrjLockFailed;
  }
  ranges_.clear();
  return rc;
}

RecordLock::RecordLock(RecordLock&& other) noexcept
    : handle_(other.handle_), slot_(other.slot_), file_id_(other.file_id_), owner_id_(other.owner_id_) {
  other.handle_ = -1;
}

RecordLock& RecordLock::operator=(RecordLock&& other) noexcept {
  if (this != &other) {
    (void)Release();  // what this one held goes first; its failure has no one to tell
    handle_ = other.handle_;
    slot_ = other.slot_;
    file_id_ = other.file_id_;
    owner_id_ = other.owner_id_;
    other.handle_ = -1;
  }
  return *this;
}

RecordLock::~RecordLock() {
  // An early return's release; the normal path calls Release and answers its result.
  (void)Release();
}

int RecordLock::Release() {
  if (handle_ < 0) return kPrjOk;
  const int handle = handle_;
  handle_ = -1;
  return ReleaseSlot(handle, slot_, file_id_, Owner{owner_id_, {}});
}

void RecordLock::Adopt(int handle, long slot) {
  (void)Release();
  handle_ = handle;
  slot_ = slot;
  file_id_ = FileIdOf(handle);
  owner_id_ = CurrentOwner().id;
}

int LockRecordByName(OperationContext& ctx, int admin_slot, const std::string& name, RecordLock* lock) {
  const int handle = HandleForName(ctx, admin_slot);
  if (handle < 0) return handle;
  const std::string padded = PadName(name);
  long slot = -1;
  int rc = LockFound(
      ctx, handle, [&](long* found) { return NameLookup(ctx, handle, padded, found); },
      [&](const PRJ& r) { return padded == r.name; }, &slot);
  if (rc == 0) lock->Adopt(handle, slot);
  return rc;
}

int LockRecordByNumber(OperationContext& ctx, int handle, uint32_t number, RecordLock* lock) {
  if (!Find(handle)) return kPrjFailed;
  long slot = -1;
  int rc = LockFound(
      ctx, handle, [&](long* found) { return NumberLookup(ctx, number, found); },
      [&](const PRJ& r) { return r.number == number; }, &slot);
  if (rc == 0) lock->Adopt(handle, slot);
  return rc;
}

int LockRecordAtSlot(OperationContext& ctx, int handle, long slot, RecordLock* lock) {
  if (slot < 1) return kPrjFailed;
  int rc = TakeSlot(ctx, handle, slot);
  if (rc == 0) lock->Adopt(handle, slot);
  return rc;
}

int LockNullRecord(OperationContext& ctx, int handle, RecordLock* lock) {
  int rc = TakeSlot(ctx, handle, 0);
  if (rc == 0) lock->Adopt(handle, 0);
  return rc;
}

int LockRecordSlot(OperationContext& ctx, int handle, long slot, int mode) {
  if (slot < 1) return kPrjFailed;
  return mode == kUnlockRecord ? ReleaseSlot(handle, slot, FileIdOf(handle), CurrentOwner())
                               : TakeSlot(ctx, handle, slot);
}

int lock_prj_info(OperationContext& ctx, int handle, uint32_t number, int mode) {
  if (!Find(handle)) return kPrjFailed;
  if (mode == kUnlockRecord) return ReleaseLockedRecord(handle, [&](const Claim& c) { return c.number == number; });
  long slot = -1;
  return LockFound(
      ctx, handle, [&](long* found) { return NumberLookup(ctx, number, found); },
      [&](const PRJ& r) { return r.number == number; }, &slot);
}

int lock_prj_nam(OperationContext& ctx, int slot, const std::string& name, int mode) {
  const int handle = HandleForName(ctx, slot);
  if (handle < 0) return handle;
  const std::string padded = PadName(name);
  if (mode == kUnlockRecord) return ReleaseLockedRecord(handle, [&](const Claim& c) { return c.name == padded; });
  long locked = -1;
  return LockFound(
      ctx, handle, [&](long* found) { return NameLookup(ctx, handle, padded, found); },
      [&](const PRJ& r) { return padded == r.name; }, &locked);
}

int lock_null_record(OperationContext& ctx, int handle, int mode) {
  Locked l = LockFile(handle);
  if (!l) return kPrjFailed;
  return mode == kUnlockRecord ? ReleaseHeld(l.f.get(), 0, CurrentOwner()) : TakeHeld(ctx, l.f.get(), l.lock, 0);
}

int DropUnfinishedAppend(OperationContext& ctx, int handle) {
  Locked l = LockFile(handle);
  platform::FileInfo info;
  if (!l || !HeldBy(*l.f, 0, CurrentOwner()) || ctx.Env().FStat(l.f->file.fd, &info) != 0) return kPrjFailed;
  const OpenedFile& o = l.f->file;
  const int64_t size = static_cast<int64_t>(info.size), first = o.Offset(1), line = o.LineBytes();
  if (size <= first) return kPrjOk;
  const int64_t tail = (size - first) % line;
  if (tail == 0 || tail >= line - o.header.line_end) return kPrjOk;
  int rc = ctx.Env().Truncate(o.fd, size - tail) == 0 && ctx.Env().Sync(o.fd) == 0 ? kPrjOk : kPrjFailed;
  l.lock.unlock();
  UnCachPrjList(ctx);
  return rc;
}

int read_null_record(int handle, NullRecord* null_record) {
  Locked l = LockFile(handle);
  if (!l) return kPrjFailed;
  char head[12];
  int64_t n = l.f->file.Env().PRead(l.f->file.fd, head, sizeof head, 0);
  AdminHeader h;
  // A damaged header holds no highest number: 0 read from it would hand out used numbers.
  if (n < 11 || ParseHeaderBytes(head, static_cast<size_t>(n), &h) != 0) return kPrjFailed;
  null_record->version = h.version;
  SetNullRecordHighest(null_record, h.highest);
  return kPrjOk;
}

int write_null_record(OperationContext& ctx, int handle, const NullRecord* null_record) {
  Locked l = LockFile(handle);
  if (!l || null_record->version != L::kCurrentVersion) return kPrjFailed;
  AdminFile* f = l.f.get();
  const bool temporary = !HeldBy(*f, 0, CurrentOwner());
  std::vector<long> added;
  if (temporary && AcquireSlots(ctx, f, l.lock, 0, 1, &added) != 0) return kPrjLockFailed;
  std::string text = FormatHeader(null_record->version, NullRecordHighest(*null_record), f->file.header.line_end);
  int rc = ctx.Env().PWrite(f->file.fd, text.data(), L::kHeaderText, 0) == L::kHeaderText ? kPrjOk : kPrjFailed;
  if (rc == 0 && ctx.Env().Sync(f->file.fd) != 0) rc = kPrjFailed;
  if (temporary) {
    UnlockSlots(f, 0, 1);
    f->claims.erase(0);
  }
  l.lock.unlock();
  UnCachPrjList(ctx);
  return rc;
}

}  // namespace dovrane::extlib

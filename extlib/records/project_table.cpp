#include "extlib/records/project_table.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/record_layout.h"
#include "extlib/records/record_stream.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

namespace L = layout;
using platform::CurrentEnv;

namespace {

// Records reserved from the file's size at most: a damaged or sparse file of
// gigabytes must not take memory before its first bad line. Reserved room is
// only touched as far as records fill it.
constexpr uint64_t kReservedRecords = uint64_t{1} << 20;

uint64_t NameHash(std::string_view name) { return std::hash<std::string_view>{}(name); }
// Fibonacci hashing: numbers in a row spread over the table.
uint64_t NumberHash(uint32_t number) { return number * 0x9E3779B97F4A7C15ull; }

}  // namespace

PRJ ProjectSnapshot::Record(size_t i) const {
  const Entry& e = entries_[i];
  PRJ record;
  std::memcpy(record.name, names_.data() + NameAt(e), e.name_length);
  std::memset(record.name + e.name_length, ' ', kNameLength - e.name_length);
  const std::string& host = hosts_[e.host];
  std::memcpy(record.host, host.data(), host.size());
  record.status = e.status;
  record.version = e.version;
  record.number = e.number;
  record.dbkey = e.dbkey;
  record.begin = e.begin;
  record.owner = e.owner;
  std::memcpy(record.members, Members(i), member_bytes_);
  return record;
}

size_t ProjectSnapshot::FindName(std::string_view given) const {
  Index();
  // Names of the same padded form are the same trimmed.
  const std::string_view name(given.data(), TrimmedLength(given.data(), given.size()));
  const uint64_t hash = NameHash(name);
  const uint32_t tag = NameTag(hash);
  const size_t mask = by_name_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const uint32_t place = by_name_[at];
    if (place == kEnd) return kNone;
    if ((place & ~record_mask_) != tag) continue;
    const uint32_t i = place & record_mask_;
    // The caller of a name look-up mostly reads the record next: its member
    // bits come in while the name is compared.
    __builtin_prefetch(members_.data() + i * member_bytes_);
    if (Name(i) == name) return i;
  }
}

size_t ProjectSnapshot::FindNumber(uint32_t number) const {
  Index();
  if (number == 0) return kNone;
  const size_t mask = by_number_.size() - 1;
  for (size_t at = NumberHash(number) >> number_shift_;; at = (at + 1) & mask) {
    const uint32_t i = by_number_[at];
    if (i == kEnd) return kNone;
    if (entries_[i].number == number) return i;
  }
}

size_t ProjectSnapshot::AtSlot(long slot) const {
  auto it = std::lower_bound(slots_.begin(), slots_.end(), slot);
  return it == slots_.end() || *it != slot ? kNone : static_cast<size_t>(it - slots_.begin());
}

size_t ProjectSnapshot::MemoryBytes() const {
  // What is filled: reserved room beyond it is never touched.
  return entries_.size() * sizeof(Entry) + slots_.size() * sizeof(long) + names_.size() + members_.size() +
         (by_name_.size() + by_number_.size() + next_name_.size() + next_number_.size()) * sizeof(uint32_t);
}

uint32_t ProjectSnapshot::HostOf(const char* field) {
  const std::string_view host(field, strnlen(field, kHostLength + 1));
  // Records of one host often follow one another.
  if (!entries_.empty() && hosts_[entries_.back().host] == host) return entries_.back().host;
  if (auto it = host_index_.find(host); it != host_index_.end()) return it->second;
  const auto index = static_cast<uint32_t>(hosts_.size());
  hosts_.emplace_back(host);
  host_index_.emplace(host, index);
  return index;
}

void ProjectSnapshot::Add(const PRJ& record, long slot) {
  slot_count_ = slot;
  if (IsDeleted(record)) {
    free_slots_.push_back(slot);
    return;
  }
  if (record.number > largest_) largest_ = record.number;
  Entry e;
  e.number = record.number;
  e.dbkey = record.dbkey;
  e.begin = record.begin;
  e.owner = record.owner;
  e.status = record.status;
  e.version = record.version;
  e.host = HostOf(record.host);
  const size_t at = names_.size();
  e.name_low = static_cast<uint32_t>(at);
  e.name_high = static_cast<uint8_t>(at >> 32);
  e.name_length = static_cast<uint8_t>(TrimmedLength(record.name, kNameLength));
  names_.insert(names_.end(), record.name, record.name + e.name_length);
  members_.insert(members_.end(), record.members, record.members + member_bytes_);
  entries_.push_back(e);
  slots_.push_back(slot);
}

// Reads the open file sequentially, record by record. 0 or -1 (*bad_slot set).
int ProjectSnapshot::Parse(platform::Env& env, int fd, const RecordFormat& format, long* bad_slot) {
  const int containers = format.containers;
  member_bytes_ = 4 * static_cast<size_t>(std::clamp(containers, 1, kMaxUserContainers));
  // One allocation each for an installation of usual size (no doubling peak
  // while reading); beyond that the buffers grow with the records actually read.
  platform::FileInfo info;
  if (env.FStat(fd, &info) == 0) {
    const uint64_t records =
        std::min<uint64_t>(info.size / (L::V3LineLength(containers) + 1) + 1, kReservedRecords);
    entries_.reserve(records);
    slots_.reserve(records);
    names_.reserve(records * kNameLength);
    members_.reserve(records * member_bytes_);
  }
  const int rc = ReadRecordStream(env, fd, containers, format.network, &highest_, bad_slot,
                                  [this](const PRJ& record, long slot) { Add(record, slot); });
  host_index_ = {};  // only the reading needs it
  return rc;
}

// The name and number indexes: the first record of each, and from each
// record the next with the same name or number (duplicates in slot order).
void ProjectSnapshot::Index() const {
  std::call_once(indexed_, [this] { BuildIndex(); });
}

void ProjectSnapshot::BuildIndex() const {
  const size_t n = entries_.size();
  // At most two thirds full: few probes, 8 to 16 bytes a record for both.
  size_t places = 2;
  int bits = 1;
  while (places < n + n / 2 + 1) {
    places <<= 1;
    ++bits;
  }
  number_shift_ = 64 - bits;
  // The fewest bits that hold every record number with all-ones to spare
  // (a full place never reads as kEnd); the name's tag takes the rest.
  record_bits_ = 1;
  while (record_bits_ < 32 && (uint64_t{1} << record_bits_) <= n) ++record_bits_;
  record_mask_ = record_bits_ >= 32 ? 0xFFFFFFFFu : (uint32_t{1} << record_bits_) - 1;
  by_name_.assign(places, kEnd);
  by_number_.assign(places, kEnd);
  next_name_.assign(n, kEnd);
  next_number_.assign(n, kEnd);
  const size_t mask = places - 1;
  // From the last record to the first: a record found in its place is the
  // next of the same name after the one now put there, so each chain comes
  // out in slot order with no search for its end.
  for (size_t i = n; i-- > 0;) {
    const auto record = static_cast<uint32_t>(i);
    const std::string_view name = Name(i);
    const uint64_t hash = NameHash(name);
    const uint32_t tag = NameTag(hash);
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      const uint32_t there = by_name_[at];
      if (there != kEnd && ((there & ~record_mask_) != tag || Name(there & record_mask_) != name)) continue;
      next_name_[i] = there == kEnd ? kEnd : there & record_mask_;
      by_name_[at] = record | tag;
      break;
    }
    const uint32_t number = entries_[i].number;
    if (number == 0) continue;
    for (size_t at = NumberHash(number) >> number_shift_;; at = (at + 1) & mask) {
      const uint32_t there = by_number_[at];
      if (there != kEnd && entries_[there].number != number) continue;
      next_number_[i] = there;
      by_number_[at] = record;
      break;
    }
  }
}

namespace {

// Opens the administration and hands it to parse; a file a conversion holds
// locked (each round waits for one rewrite; several may follow one another)
// or that was replaced meanwhile is read again.
// *open_error: the open's error when a file is there but does not open.
int ReadAdministration(platform::Env& env, const std::string& native, const std::function<int(int fd)>& parse,
                       long* open_error) {
  int rc = kPrjFailed;
  for (int attempt = 0; attempt < 50 && rc == kPrjFailed; ++attempt) {
    int fd = platform::OpenRegularFile(native, O_RDONLY);
    // Only a file that is not there is missing: one that is there but cannot
    // be opened (no access rights, something that is not a file, an I/O
    // error) is unreadable, and its cause is told.
    if (fd < 0) {
      if (fd == -ENOENT || fd == -ENOTDIR) return kPrjAdminMissing;
      *open_error = fd;
      return kPrjFailed;
    }
    rc = parse(fd);
    const bool again = rc != kPrjOk && (platform::WaitForWholeFileLock(fd, RecordLockTimeoutMs()) ||
                                        !platform::IsFileAtPath(fd, native));
    platform::CloseNothingPending(&env, fd);
    if (!again) break;
  }
  return rc;
}

// The message for an administration that cannot be read: the damaged record,
// or (bad < 0) why the file does not open.
std::string UnreadableText(const std::string& path, long bad) {
  if (bad > 0) return LanguageTextWith(kRepairTexts, 29, {path, std::to_string(bad)});
  if (bad < 0) return LanguageTextWith(kRepairTexts, 30, {path, platform::ErrorName(static_cast<int>(bad))});
  return LanguageTextWith(kRepairTexts, 31, {path});
}

}  // namespace

RecordFormat RecordFormatOf(OperationContext& ctx) {
  Installation& installation = ctx.installation();
  RecordFormat format;
  UserTable users;
  format.containers = ReadUserTable(installation, &users) == 0 ? users.containers : 1;
  std::vector<HostEntry> hosts;
  format.network = ReadHostList(ctx, &hosts) != kPrjAdminMissing;
  return format;
}

int ProjectSnapshot::Read(platform::Env& env, const std::string& native, const RecordFormat& format,
                          std::shared_ptr<ProjectSnapshot>* out, long* bad_slot, bool index) {
  *bad_slot = 0;
  std::shared_ptr<ProjectSnapshot> fresh;
  const int rc = ReadAdministration(
      env, native,
      [&](int fd) {
        fresh = std::make_shared<ProjectSnapshot>();
        return fresh->Parse(env, fd, format, bad_slot);
      },
      bad_slot);
  if (rc == kPrjOk) {
    if (index) fresh->Index();
    *out = std::move(fresh);
  }
  return rc;
}

int ProjectSnapshot::Walk(platform::Env& env, const std::string& native, const RecordFormat& format, int threads,
                          const std::function<void(int64_t file_size)>& started,
                          const std::function<void(long first_slot, int thread)>& piece,
                          const std::function<void(const PRJ& record, int thread)>& each, long* bad_slot,
                          const std::function<void(const WrittenFields* fields, size_t count, int thread)>& written) {
  *bad_slot = 0;
  std::vector<RecordSink> sinks;
  for (int thread = 0; thread < std::max(threads, 1); ++thread) {
    RecordSink sink;
    sink.each = [&each, thread](const PRJ& record, long) {
      if (!IsDeleted(record)) each(record, thread);
    };
    if (written) {
      sink.written = [&written, thread](const WrittenFields* fields, size_t count, long) {
        // The live lines: the runs between deleted ones handed on whole.
        size_t from = 0;
        for (size_t i = 0; i < count; ++i) {
          if (fields[i].name[0] != kDeletedMark) continue;
          if (i > from) written(fields + from, i - from, thread);
          from = i + 1;
        }
        if (count > from) written(fields + from, count - from, thread);
      };
    }
    if (piece) sink.piece = [&piece, thread](long first_slot) { piece(first_slot, thread); };
    sinks.push_back(std::move(sink));
  }
  return ReadAdministration(
      env, native,
      [&](int fd) {
        platform::FileInfo info;
        started(env.FStat(fd, &info) == 0 ? info.size : 0);
        uint32_t highest = 0;
        return ReadRecordStreamInPieces(env, fd, format.containers, format.network, &highest, bad_slot, sinks);
      },
      bad_slot);
}

int ProjectTable::Walk(OperationContext& ctx, int threads, const std::function<void(int64_t file_size)>& started,
                       const std::function<void(long first_slot, int thread)>& piece,
                       const std::function<void(const PRJ& record, int thread)>& each,
                       const std::function<void(const WrittenFields* fields, size_t count, int thread)>& written) {
  std::string native, path;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    uint64_t generation = 0;
    if (int rc = CheckLocked(&generation); rc != kPrjOk) return rc;
    native = native_;
    path = path_;
  }
  long bad = 0;
  const int rc =
      ProjectSnapshot::Walk(ctx.Env(), native, RecordFormatOf(ctx), threads, started, piece, each, &bad, written);
  if (rc == kPrjFailed) LibraryMessage(ctx, 1, UnreadableText(path, bad));
  return rc;
}

int ProjectTable::StampNow(Stamp* stamp) {
  platform::FileInfo info;
  if (installation_.Env().Stat(native_, &info) != 0) {
    native_ = installation_.Paths().ToNative(path_);  // letter case may have changed
    if (installation_.Env().Stat(native_, &info) != 0) return kPrjAdminMissing;
  }
  *stamp = {info.inode, info.size, info.modified, info.created};
  return kPrjOk;
}

// REQUIRES: mutex_.
int ProjectTable::CheckLocked(uint64_t* generation) {
  std::string path;
  if (SlotFileName(installation_, kSlotNet, kAdministrationFile, &path)) return kPrjAdminMissing;
  const std::string key = path + "|" + installation_.Paths().UncRoot();
  if (key != key_) {
    key_ = key;
    path_ = path;
    native_ = installation_.Paths().ToNative(path);
    have_seen_ = false;
  }
  Stamp stamp;
  if (StampNow(&stamp) != kPrjOk) {
    if (have_seen_) ++generation_;
    have_seen_ = false;
    stale_ = true;
    return kPrjAdminMissing;
  }
  if (!have_seen_ || !(stamp == seen_)) {
    ++generation_;
    seen_ = stamp;
    have_seen_ = true;
    stale_ = true;
  }
  if (generation) *generation = generation_;
  return kPrjOk;
}

int ProjectTable::Take(OperationContext& ctx, SnapshotPtr* out, bool report) {
  const int64_t now = installation_.Env().MonotonicMs();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    // A file status call costs as much as reading kilobytes; within a short
    // window the snapshot is taken as current (own writes make it stale at once).
    if (snapshot_ && !stale_ && now - checked_ms_ < revalidate_ms_) {
      *out = snapshot_;
      return kPrjOk;
    }
  }
  // One reader at a time; the others then find its snapshot.
  std::lock_guard<std::mutex> reading(read_mutex_);
  uint64_t generation = 0;
  std::string native, path;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (int rc = CheckLocked(&generation); rc != kPrjOk) return rc;
    checked_ms_ = now;
    if (snapshot_ && !stale_) {
      *out = snapshot_;
      return kPrjOk;
    }
    native = native_;
    path = path_;
  }
  std::shared_ptr<ProjectSnapshot> fresh;
  long bad = 0;
  int rc = ProjectSnapshot::Read(ctx.Env(), native, RecordFormatOf(ctx), &fresh, &bad, index_at_read_);
  bool tell = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (rc == kPrjOk) {
      fresh->generation_ = generation;
      *out = fresh;
      // A write while it was read: the snapshot stays stale.
      if (generation == generation_) {
        snapshot_ = std::move(fresh);
        stale_ = false;
      }
    } else {
      snapshot_.reset();
      stale_ = true;
      if (rc == kPrjFailed && report && (!have_reported_ || !(reported_ == seen_))) {
        reported_ = seen_;
        have_reported_ = true;
        tell = true;
      }
    }
  }
  // Outside the table's lock: whoever shows the message may look projects up.
  if (tell) LibraryMessage(ctx, 1, UnreadableText(path, bad));
  return rc;
}

int ProjectTable::Check(uint64_t* generation) {
  std::lock_guard<std::mutex> guard(mutex_);
  return CheckLocked(generation);
}

uint64_t ProjectTable::Generation() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return generation_;
}

namespace {
thread_local uint64_t t_own_writes = 0;
}  // namespace

void ProjectTable::OwnWrite() {
  std::lock_guard<std::mutex> guard(mutex_);
  ++generation_;
  ++t_own_writes;
  stale_ = true;
  // Else the next check would count the same write again as a change.
  if (have_seen_ && StampNow(&seen_) != kPrjOk) have_seen_ = false;
}

uint64_t ProjectTable::OwnWritesOfThisThread() { return t_own_writes; }

void ProjectTable::SetRevalidateMs(int ms) {
  std::lock_guard<std::mutex> guard(mutex_);
  revalidate_ms_ = ms;
}

}  // namespace dovrane::extlib

// The project table: the live records of project.dat parsed once, indexed by
// padded name and by number, and handed out as immutable snapshots. Every
// reader (the lookups, the project list, the trees, the repairs' index)
// shares the one snapshot of a generation without copying it; a reader that
// holds a snapshot keeps it valid while the table reads the file again.
// The generation grows whenever the file changed (another size, time, file
// or path) or the process wrote it itself, and at no other time.
// Thread-safe: snapshots may be taken and the table refreshed from several
// threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "extlib/records/prj_record.h"
#include "extlib/records/written_line.h"
#include "platform/env.h"

namespace dovrane::platform {
class Env;
}

namespace dovrane::extlib {

class OperationContext;

class Installation;

// What reading the record lines needs to know of their installation: the
// number of user containers and whether it is a network installation (a
// host list is there).
struct RecordFormat {
  int containers = 1;
  bool network = false;
};
// The installation's, as its user table and host list say now.
RecordFormat RecordFormatOf(OperationContext& ctx);

// One administration as read at one moment. Never changes once made.
// Compact: a record is a fixed entry (its numbers, its host as an index into
// the snapshot's host names, its name as a place in one buffer of trimmed
// names) and its member bits in one buffer of 4 bytes per container of the
// record format. A million records take about 60 MB instead of the 212 MB of
// as many PRJs, most of which were blanks and bitmaps of unused containers.
class ProjectSnapshot {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  ProjectSnapshot() = default;
  // The indexes point into the buffers: a snapshot is shared, never copied.
  ProjectSnapshot(const ProjectSnapshot&) = delete;
  ProjectSnapshot& operator=(const ProjectSnapshot&) = delete;

  // The live records in slot order: record i (0 .. Count() - 1) and its fields.
  size_t Count() const { return entries_.size(); }
  // The name without its trailing blanks.
  std::string_view Name(size_t i) const {
    const Entry& e = entries_[i];
    return {names_.data() + NameAt(e), e.name_length};
  }
  // The host field as the record holds it (up to its NUL); HostIndex: its
  // place in HostNames(), the distinct host fields in the order first met.
  std::string_view Host(size_t i) const { return hosts_[entries_[i].host]; }
  uint32_t HostIndex(size_t i) const { return entries_[i].host; }
  const std::vector<std::string>& HostNames() const { return hosts_; }
  uint32_t Number(size_t i) const { return entries_[i].number; }
  uint32_t Key(size_t i) const { return entries_[i].dbkey; }
  int32_t Begin(size_t i) const { return entries_[i].begin; }
  uint32_t Owner(size_t i) const { return entries_[i].owner; }
  unsigned char Status(size_t i) const { return entries_[i].status; }
  unsigned char Version(size_t i) const { return entries_[i].version; }
  // The member bitmap: MemberBytes() bytes (4 per container); the bytes of a
  // PRJ beyond them are zero.
  const unsigned char* Members(size_t i) const { return members_.data() + i * member_bytes_; }
  size_t MemberBytes() const { return member_bytes_; }
  // The whole record as the file's line parses (blank-padded name, zeros past the host).
  PRJ Record(size_t i) const;
  long Slot(size_t i) const { return slots_[i]; }
  const std::vector<long>& Slots() const { return slots_; }
  // The first live record (in slot order) with this name (at most 50 bytes,
  // trailing blanks or none) or number, as a record index; kNone when there is none.
  size_t FindName(std::string_view name) const;
  size_t FindNumber(uint32_t number) const;
  // The next live record with the same name / number after record i, or kNone.
  size_t NextSameName(size_t i) const {
    Index();
    return Next(next_name_, i);
  }
  size_t NextSameNumber(size_t i) const {
    Index();
    return Next(next_number_, i);
  }
  // The live record in a slot, or kNone (deleted or past the end). O(log n).
  size_t AtSlot(long slot) const;
  // The deleted slots, ascending.
  const std::vector<long>& FreeSlots() const { return free_slots_; }
  long SlotCount() const { return slot_count_; }
  // The first deleted slot, else one past the last.
  long FirstFreeSlot() const { return free_slots_.empty() ? slot_count_ + 1 : free_slots_.front(); }
  uint32_t Highest() const { return highest_; }  // the null record's
  uint32_t Largest() const { return largest_; }  // of the live records
  uint64_t Generation() const { return generation_; }
  // The bytes the snapshot fills (records, names, members, indexes once built).
  size_t MemoryBytes() const;

  // Reads the administration at native. 0, -2 missing, -1 unreadable
  // (*bad_slot: the damaged record, 0 for the header, negative: the error of
  // a file that is there but does not open). A file a conversion
  // holds locked is waited for and read again. index: build the indexes now.
  static int Read(platform::Env& env, const std::string& native, const RecordFormat& format,
                  std::shared_ptr<ProjectSnapshot>* out, long* bad_slot, bool index = true);
  // The same read handing each live record to each instead of keeping it,
  // read by `threads` threads at once in pieces of the file (see
  // ReadRecordStreamInPieces): each call gets the number of the thread that
  // reads it, and piece(first_slot, thread) comes before the records of each
  // piece. written (may be empty): live lines in the written form, unparsed,
  // instead of to each, runs of them at once (see RecordSink::written). On a damaged file some
  // records may have been handed on before the error: a caller keeps its
  // output until this returns 0. started: called before each attempt (a
  // locked file is read again) with the size of the file it reads.
  static int Walk(platform::Env& env, const std::string& native, const RecordFormat& format, int threads,
                  const std::function<void(int64_t file_size)>& started,
                  const std::function<void(long first_slot, int thread)>& piece,
                  const std::function<void(const PRJ& record, int thread)>& each, long* bad_slot,
                  const std::function<void(const WrittenFields* fields, size_t count, int thread)>& written = {});

 private:
  // 28 bytes. The name's place has 40 bits: 2^32 records (the indexes' limit)
  // of 50 bytes need 38.
  struct Entry {
    uint32_t number, dbkey;
    int32_t begin;
    uint32_t owner;
    uint32_t name_low;  // the place in names_, its low 32 bits
    uint32_t host;      // in hosts_
    uint8_t name_high;  // and its bits 32 .. 39
    uint8_t name_length, status, version;
  };
  static_assert(sizeof(Entry) == 28);
  static size_t NameAt(const Entry& e) { return e.name_low | size_t{e.name_high} << 32; }
  static size_t Next(const std::vector<uint32_t>& next, size_t i) {
    return next[i] == kEnd ? kNone : next[i];
  }
  static constexpr uint32_t kEnd = 0xFFFFFFFFu;
  int Parse(platform::Env& env, int fd, const RecordFormat& format, long* bad_slot);
  void Add(const PRJ& record, long slot);
  uint32_t HostOf(const char* field);
  // The name and number indexes, built once (safe from any thread): at the
  // read, or at the first look-up for a table that indexes lazily.
  void Index() const;
  void BuildIndex() const;

  std::vector<Entry> entries_;
  std::vector<long> slots_;
  std::vector<char> names_;
  std::vector<unsigned char> members_;
  size_t member_bytes_ = 4;
  std::vector<std::string> hosts_;
  // While reading: the host fields met, to their index.
  struct HostHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, uint32_t, HostHash, std::equal_to<>> host_index_;
  mutable std::once_flag indexed_;
  // Open addressing, a power of two of places: the first record of each
  // name / number (kEnd: free). next_*: from each record the next with the
  // same name / number (duplicates in slot order).
  mutable std::vector<uint32_t> by_name_, by_number_;
  mutable std::vector<uint32_t> next_name_, next_number_;
  mutable int number_shift_ = 63;
  // A name place holds its record in the low record_bits_ bits and the top
  // bits of the name's hash above them (none from 2^31 records on): a probe
  // that meets another name mostly tells so without reading its record, a
  // cache miss or two each.
  mutable int record_bits_ = 32;
  mutable uint32_t record_mask_ = 0xFFFFFFFFu;
  uint32_t NameTag(uint64_t hash) const {
    return record_bits_ >= 32 ? 0 : static_cast<uint32_t>(hash >> (32 + record_bits_)) << record_bits_;
  }
  std::vector<long> free_slots_;
  long slot_count_ = 0;
  uint32_t highest_ = 0, largest_ = 0;
  uint64_t generation_ = 0;
  friend class ProjectTable;
};

using SnapshotPtr = std::shared_ptr<const ProjectSnapshot>;

// The table of an installation's slot 23 administration (its path mapped by
// the installation's path map).
class ProjectTable {
 public:
  explicit ProjectTable(Installation& installation) : installation_(installation) {}
  ProjectTable(const ProjectTable&) = delete;
  ProjectTable& operator=(const ProjectTable&) = delete;

  // The current snapshot, read again when the file changed. Within the
  // revalidation time after a check the file is not compared again (the
  // process's own writes are seen at once). 0, -2 no administration, -1
  // unreadable; report: a damaged file is reported (once per state of the file).
  int Take(OperationContext& ctx, SnapshotPtr* out, bool report = true);
  // Every live record of the file as it is now, handed to each without a
  // snapshot (a run that only lists them); the return values as Take's, a
  // damaged file reported. started: see ProjectSnapshot::Walk.
  int Walk(OperationContext& ctx, int threads, const std::function<void(int64_t file_size)>& started,
           const std::function<void(long first_slot, int thread)>& piece,
           const std::function<void(const PRJ& record, int thread)>& each,
           const std::function<void(const WrittenFields* fields, size_t count, int thread)>& written = {});
  // Compares the file with the table now and returns the generation it is
  // at (grown if the file changed); -2 when there is no administration. A
  // writer that keeps its own view of its writes (the repairs' index) calls
  // it right after writing: that generation is then the file with its writes.
  int Check(uint64_t* generation);
  uint64_t Generation() const;
  // The process wrote the file: the generation grows and the next Take reads it.
  // The file's new state is taken as seen, so the write counts once.
  void OwnWrite();
  // How many own writes the calling thread has announced (to any table): a
  // writer that keeps its own view knows which generations are its own.
  static uint64_t OwnWritesOfThisThread();
  // Default 200 ms; 0 compares the file on every Take.
  void SetRevalidateMs(int ms);
  // false: snapshots build their indexes at the first look-up, not at the
  // read (a run that looks few records up).
  void SetIndexAtRead(bool index) { index_at_read_ = index; }

 private:
  struct Stamp {
    uint64_t inode = 0, size = 0;
    platform::FileTime modified, created;
    bool operator==(const Stamp&) const = default;
  };
  int CheckLocked(uint64_t* generation);
  int StampNow(Stamp* stamp);

  Installation& installation_;
  mutable std::mutex mutex_;
  std::mutex read_mutex_;  // one reader of the file at a time
  std::atomic<bool> index_at_read_{true};
  std::string key_, native_, path_;  // the file's Windows path and mapping, its native path
  Stamp seen_;                       // the file's state at the last check
  bool have_seen_ = false;
  bool stale_ = true;  // the snapshot is not the file's generation
  uint64_t generation_ = 1;
  int64_t checked_ms_ = 0;
  int revalidate_ms_ = 200;
  SnapshotPtr snapshot_;
  Stamp reported_;
  bool have_reported_ = false;
};

}  // namespace dovrane::extlib

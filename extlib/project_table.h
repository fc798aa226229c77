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

#include "extlib/prj_record.h"
#include "extlib/written_line.h"
#include "platform/env.h"

namespace dovrane::extlib {

class Installation;

// What reading the record lines needs to know of their installation: the
// number of user containers and whether it is a network installation (a
// host list is there).
struct RecordFormat {
  int containers = 1;
  bool network = false;
};
// The installation's, as its user table and host list say now.
RecordFormat RecordFormatOf(Installation& installation);

// One administration as read at one moment. Never changes once made.
class ProjectSnapshot {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  ProjectSnapshot() = default;
  // The name index points into the records: a snapshot is shared, never copied.
  ProjectSnapshot(const ProjectSnapshot&) = delete;
  ProjectSnapshot& operator=(const ProjectSnapshot&) = delete;

  // The live records in slot order, and the slot of each.
  const std::vector<PRJ>& Records() const { return records_; }
  const std::vector<long>& Slots() const { return slots_; }
  // The first live record (in slot order) with this name (padded to 50) or
  // number, as an index into Records(); kNone when there is none.
  size_t FindName(std::string_view padded_name) const;
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

  // Reads the administration at native. 0, -2 missing, -1 unreadable
  // (*bad_slot: the damaged record, 0 for the header, negative: the error of
  // a file that is there but does not open). A file a conversion
  // holds locked is waited for and read again. index: build the indexes now.
  static int Read(const std::string& native, const RecordFormat& format, std::shared_ptr<ProjectSnapshot>* out,
                  long* bad_slot, bool index = true);
  // The same read handing each live record to each instead of keeping it,
  // read by `threads` threads at once in pieces of the file (see
  // ReadRecordStreamInPieces): each call gets the number of the thread that
  // reads it, and piece(first_slot, thread) comes before the records of each
  // piece. written (may be empty): live lines in the written form, unparsed,
  // instead of to each, runs of them at once (see RecordSink::written). On a damaged file some
  // records may have been handed on before the error: a caller keeps its
  // output until this returns 0. started: called before each attempt (a
  // locked file is read again) with the size of the file it reads.
  static int Walk(const std::string& native, const RecordFormat& format, int threads,
                  const std::function<void(int64_t file_size)>& started,
                  const std::function<void(long first_slot, int thread)>& piece,
                  const std::function<void(const PRJ& record, int thread)>& each, long* bad_slot,
                  const std::function<void(const WrittenFields* fields, size_t count, int thread)>& written = {});

 private:
  static size_t Next(const std::vector<uint32_t>& next, size_t i) {
    return next[i] == kEnd ? kNone : next[i];
  }
  static constexpr uint32_t kEnd = 0xFFFFFFFFu;
  int Parse(int fd, const RecordFormat& format, long* bad_slot);
  void Add(const PRJ& record, long slot);
  // The name and number indexes, built once (safe from any thread): at the
  // read, or at the first look-up for a table that indexes lazily.
  void Index() const;
  void BuildIndex() const;

  std::vector<PRJ> records_;
  std::vector<long> slots_;
  mutable std::once_flag indexed_;
  mutable std::vector<uint32_t> next_name_, next_number_;
  mutable std::unordered_map<std::string_view, uint32_t> by_name_;
  mutable std::unordered_map<uint32_t, uint32_t> by_number_;
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
  int Take(SnapshotPtr* out, bool report = true);
  // Every live record of the file as it is now, handed to each without a
  // snapshot (a run that only lists them); the return values as Take's, a
  // damaged file reported. started: see ProjectSnapshot::Walk.
  int Walk(int threads, const std::function<void(int64_t file_size)>& started,
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

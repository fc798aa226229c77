// The administration as one repair run sees it: the project table's snapshot
// (shared with every other reader, never copied) and over it the run's own
// record writes (append, delete, rewrite). Lookups and the choice of free
// numbers and slots stay O(1) or O(log n) however many records a rebuild
// registers, instead of re-reading the file per entry. The index is taken
// again whenever the table's generation moved on by another writer (another
// size, time or file than after the run's last write).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "extlib/installation/installation.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_table.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

struct IndexedRecord {
  extlib::PRJ record;
  long slot = 0;
};

class ProjectIndex {
 public:
  // The live records in administration (slot) order.
  std::vector<IndexedRecord> Records() const;
  // The first live record (in slot order) with this name (padded to 50) /
  // number; false when there is none.
  bool FindName(const std::string& name, IndexedRecord* found = nullptr) const;
  bool FindNumber(uint32_t number, IndexedRecord* found = nullptr) const;
  bool NumberUsed(uint32_t number) const { return FindNumber(number); }
  bool NameUsed(const std::string& name) const { return FindName(name); }
  // The largest number of a live record, 0 when there is none.
  uint32_t Largest() const;
  // The null record's highest number.
  uint32_t Highest() const { return highest_; }
  // The first deleted slot, else one past the last.
  long FirstFreeSlot() const;
  size_t LiveCount() const { return live_; }

  // Takes the table's current snapshot. 0, -2 no administration, -1 unreadable.
  int Load(extlib::OperationContext& ctx, extlib::ProjectTable& table = extlib::ProcessInstallation().Projects());
  // Starts over from this snapshot, without writes of its own.
  void Reset(extlib::SnapshotPtr base);
  uint64_t Generation() const { return base_ ? base_->Generation() : 0; }
  // The run's own writes.
  void OnWrite(long slot, const extlib::PRJ& record);
  void SetHighest(uint32_t highest) { highest_ = highest; }

 private:
  // The snapshot's first record of a chain that the run has not overwritten.
  size_t FirstKept(size_t i, bool by_name) const;
  // The live written slots of a name or number, ascending (nearly always one).
  using Slots = std::vector<long>;
  bool Find(size_t base_first, const Slots* written, bool by_name, IndexedRecord* found) const;
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
  };

  extlib::SnapshotPtr base_;
  // Hash tables, not trees: a rebuild of a million projects looks each one up
  // several times, and a tree of a million nodes costs a cache miss a level.
  std::unordered_map<long, extlib::PRJ> written_;  // the run's writes, by slot
  std::unordered_map<std::string, Slots, NameHash, std::equal_to<>> names_;  // live written slots
  std::unordered_map<uint32_t, Slots> numbers_;                                // live written slots
  mutable uint32_t own_largest_ = 0;  // of numbers_
  mutable bool own_largest_known_ = true;
  std::set<long> free_;      // written slots that are free
  mutable size_t base_free_ = 0;   // the snapshot's free slots before it are written
  mutable uint32_t base_largest_ = 0;  // of the snapshot's records not overwritten
  mutable bool base_largest_known_ = false;
  long end_ = 0;  // slots in the file
  uint32_t highest_ = 0;
  size_t live_ = 0;
};

// The index of the current administration (slot 23), read again when the
// file changed behind the run's back. Null with *rc set when it cannot be read.
ProjectIndex* CurrentIndex(extlib::OperationContext& ctx, int* rc = nullptr);
// Notes that the run has written the file (the index was updated by the writer).
void IndexFollowsFile();
// Forgets the index (after the file was replaced or renamed).
void DropIndex();
// A record the run has placed in a slot but not written yet (a batch of
// appends): the index shows it, also when it is read again meanwhile.
void NoteUnwritten(long slot, const extlib::PRJ& record);
// The noted records are in the file (written) or were given up.
void UnwrittenDone(bool written);

}  // namespace dovrane::admin

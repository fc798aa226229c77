// The administration as one repair run sees it: every record slot of
// project.dat read once, indexed by padded name and by number, and kept up to
// date by the run's own record writes (append, delete, rewrite). Lookups and
// the choice of free numbers and slots stay O(1) or O(log n) however many
// records a rebuild registers, instead of re-reading the file per entry.
// The index is read again whenever project.dat changed by another writer
// (another size, time or file than after the run's last write).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "extlib/prj_record.h"

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
  bool NumberUsed(uint32_t number) const {
    auto it = by_number_.find(number);
    return number != 0 && it != by_number_.end() && !it->second.empty();
  }
  bool NameUsed(const std::string& name) const { return FindName(name); }
  // The largest number of a live record, 0 when there is none.
  uint32_t Largest() const { return numbers_.empty() ? 0 : numbers_.rbegin()->first; }
  // The null record's highest number.
  uint32_t Highest() const { return highest_; }
  // The first deleted slot, else one past the last.
  long FirstFreeSlot() const;
  size_t LiveCount() const { return live_; }

  // Reads every slot through the library's record reader. 0, -2 no
  // administration, -1 unreadable.
  int Load();
  // The run's own writes.
  void OnWrite(long slot, const extlib::PRJ& record);
  void SetHighest(uint32_t highest) { highest_ = highest; }

 private:
  void Insert(long slot);
  void Erase(long slot);

  std::vector<extlib::PRJ> slots_;  // index 0 is slot 1
  std::unordered_map<std::string, std::vector<long>> by_name_;  // ascending slots
  std::unordered_map<uint32_t, std::vector<long>> by_number_;
  std::map<uint32_t, int> numbers_;  // number -> live records with it
  std::set<long> free_slots_;
  uint32_t highest_ = 0;
  size_t live_ = 0;
};

// The index of the current administration (slot 23), read again when the
// file changed behind the run's back. Null with *rc set when it cannot be read.
ProjectIndex* CurrentIndex(int* rc = nullptr);
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

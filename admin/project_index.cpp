#include "admin/project_index.h"

#include <algorithm>
#include <climits>
#include <thread>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"

namespace dovrane::admin {

using extlib::PRJ;
using extlib::ProjectSnapshot;

namespace {

constexpr size_t kNone = ProjectSnapshot::kNone;

// A slot into / out of an ascending list of slots.
void Add(std::vector<long>* slots, long slot) {
  auto at = std::lower_bound(slots->begin(), slots->end(), slot);
  if (at == slots->end() || *at != slot) slots->insert(at, slot);
}

void Drop(std::vector<long>* slots, long slot) {
  auto at = std::lower_bound(slots->begin(), slots->end(), slot);
  if (at != slots->end() && *at == slot) slots->erase(at);
}

struct IndexState {
  ProjectIndex index;
  uint64_t generation = 0;  // the table's generation the index shows
  uint64_t own_writes = 0;  // the thread's own writes the index shows
  bool loaded = false;
  std::vector<IndexedRecord> unwritten;
};

// Set while the program starts, which is on its main thread.
const std::thread::id kMainThread = std::this_thread::get_id();

// Each thread runs its own repair over its own view: another thread's writes
// reach it as a newer generation of the table, never half-way through an
// update of the view. A thread's view lives as long as the thread; the main
// thread's is never destroyed (freeing a large index at exit would only cost time).
IndexState& State() {
  struct Holder {
    IndexState* state = new IndexState;
    bool main = false;
    ~Holder() {
      if (!main) delete state;
    }
  };
  thread_local Holder holder{new IndexState, std::this_thread::get_id() == kMainThread};
  return *holder.state;
}

extlib::ProjectTable& Table() { return extlib::ProcessInstallation().Projects(); }

}  // namespace

void ProjectIndex::Reset(extlib::SnapshotPtr base) {
  written_.clear();
  names_.clear();
  numbers_.clear();
  own_largest_ = 0;
  own_largest_known_ = true;
  free_.clear();
  base_free_ = 0;
  base_largest_known_ = false;
  base_ = std::move(base);
  end_ = base_ ? base_->SlotCount() : 0;
  highest_ = base_ ? base_->Highest() : 0;
  live_ = base_ ? base_->Count() : 0;
}

int ProjectIndex::Load(extlib::OperationContext& ctx, extlib::ProjectTable& table) {
  Reset(nullptr);  // the former snapshot is not kept beside the new one
  extlib::SnapshotPtr base;
  // The repairs report an unreadable administration in their own words.
  int rc = table.Take(ctx, &base, false);
  if (rc == extlib::kPrjOk) Reset(std::move(base));
  return rc;
}

size_t ProjectIndex::FirstKept(size_t i, bool by_name) const {
  while (i != kNone && written_.count(base_->Slots()[i]))
    i = by_name ? base_->NextSameName(i) : base_->NextSameNumber(i);
  return i;
}

// The first in slot order of the snapshot's chain and the run's slots.
bool ProjectIndex::Find(size_t base_first, const Slots* written, bool by_name,
                        IndexedRecord* found) const {
  const size_t i = FirstKept(base_first, by_name);
  const long from_base = i == kNone ? LONG_MAX : base_->Slots()[i];
  const long own = written && !written->empty() ? written->front() : LONG_MAX;
  if (from_base == LONG_MAX && own == LONG_MAX) return false;
  if (found) *found = {from_base < own ? base_->Record(i) : written_.at(own), std::min(from_base, own)};
  return true;
}

std::vector<IndexedRecord> ProjectIndex::Records() const {
  std::vector<long> own;
  for (const auto& [slot, record] : written_)
    if (!extlib::IsDeleted(record)) own.push_back(slot);
  std::sort(own.begin(), own.end());
  std::vector<IndexedRecord> out;
  out.reserve(live_);
  auto next = own.begin();
  if (base_) {
    const std::vector<long>& slots = base_->Slots();
    for (size_t i = 0; i < base_->Count(); ++i) {
      for (; next != own.end() && *next < slots[i]; ++next) out.push_back({written_.at(*next), *next});
      if (!written_.count(slots[i])) out.push_back({base_->Record(i), slots[i]});
    }
  }
  for (; next != own.end(); ++next) out.push_back({written_.at(*next), *next});
  return out;
}

bool ProjectIndex::FindName(const std::string& name, IndexedRecord* found) const {
  const std::string padded = extlib::PadName(name);
  auto it = names_.find(std::string_view(padded));
  return Find(base_ ? base_->FindName(padded) : kNone, it == names_.end() ? nullptr : &it->second, true, found);
}

bool ProjectIndex::FindNumber(uint32_t number, IndexedRecord* found) const {
  if (number == 0) return false;
  auto it = numbers_.find(number);
  return Find(base_ ? base_->FindNumber(number) : kNone, it == numbers_.end() ? nullptr : &it->second, false,
              found);
}

uint32_t ProjectIndex::Largest() const {
  if (!base_largest_known_ && base_) {
    // The snapshot's largest, unless the run overwrote every record of it;
    // then (rarely) the largest of the records it kept.
    base_largest_ = base_->Largest();
    if (base_largest_ && FirstKept(base_->FindNumber(base_largest_), false) == kNone) {
      base_largest_ = 0;
      for (size_t i = 0; i < base_->Count(); ++i)
        if (base_->Number(i) > base_largest_ && !written_.count(base_->Slot(i))) base_largest_ = base_->Number(i);
    }
    base_largest_known_ = true;
  }
  if (!own_largest_known_) {
    // Only after the largest of the run's own numbers was rewritten.
    own_largest_ = 0;
    for (const auto& [number, slots] : numbers_) own_largest_ = std::max(own_largest_, number);
    own_largest_known_ = true;
  }
  return std::max(base_largest_, own_largest_);
}

long ProjectIndex::FirstFreeSlot() const {
  long first = end_ + 1;
  if (base_) {
    // A free slot of the snapshot that the run wrote stays written (and is
    // in free_ if it was freed again): the cursor never goes back.
    const std::vector<long>& base_free = base_->FreeSlots();
    while (base_free_ < base_free.size() && written_.count(base_free[base_free_])) ++base_free_;
    if (base_free_ < base_free.size()) first = std::min(first, base_free[base_free_]);
  }
  return free_.empty() ? first : std::min(first, *free_.begin());
}

void ProjectIndex::OnWrite(long slot, const PRJ& record) {
  if (slot < 1) return;
  // Slots between the end and a write past it are free ones.
  PRJ deleted;
  deleted.name[0] = '#';
  for (; end_ < slot - 1; ++end_) {
    written_[end_ + 1] = deleted;
    free_.insert(end_ + 1);
  }
  end_ = std::max(end_, slot);
  auto [it, fresh] = written_.emplace(slot, record);
  if (!fresh) {
    const PRJ& old = it->second;
    if (extlib::IsDeleted(old)) {
      free_.erase(slot);
    } else {
      --live_;
      auto name = names_.find(std::string_view(old.name, extlib::kNameLength));
      Drop(&name->second, slot);
      if (name->second.empty()) names_.erase(name);
      if (old.number) {
        auto number = numbers_.find(old.number);
        Drop(&number->second, slot);
        if (number->second.empty()) {
          numbers_.erase(number);
          if (old.number == own_largest_) own_largest_known_ = false;
        }
      }
    }
    it->second = record;
  } else if (const size_t i = base_ ? base_->AtSlot(slot) : kNone; i != kNone) {
    --live_;  // the snapshot's record there is overwritten
    if (base_->Number(i) == base_largest_) base_largest_known_ = false;
  }
  if (extlib::IsDeleted(record)) {
    free_.insert(slot);
    return;
  }
  ++live_;
  const std::string_view name(record.name, extlib::kNameLength);
  auto at = names_.find(name);
  if (at == names_.end()) at = names_.emplace(std::string(name), Slots()).first;
  Add(&at->second, slot);
  if (record.number) {
    Add(&numbers_[record.number], slot);
    own_largest_ = std::max(own_largest_, record.number);
  }
}

ProjectIndex* CurrentIndex(extlib::OperationContext& ctx, int* rc) {
  IndexState& s = State();
  uint64_t generation = 0;
  int code = Table().Check(&generation);
  if (code == extlib::kPrjOk && (!s.loaded || generation != s.generation)) {
    s.loaded = false;
    code = s.index.Load(ctx, Table());
    // The generation of the file as read; a write racing the read shows as a change next time.
    if (code == extlib::kPrjOk) {
      s.generation = s.index.Generation();
      s.own_writes = extlib::ProjectTable::OwnWritesOfThisThread();
      s.loaded = true;
      for (const IndexedRecord& r : s.unwritten) s.index.OnWrite(r.slot, r.record);
    }
  }
  if (rc) *rc = code;
  return code == extlib::kPrjOk ? &s.index : nullptr;
}

void IndexFollowsFile() {
  IndexState& s = State();
  if (!s.loaded) return;
  // The file's new state is the thread's own writes, which the index holds
  // already, unless another writer's change came in between: then read it again.
  const uint64_t own = extlib::ProjectTable::OwnWritesOfThisThread();
  uint64_t now = 0;
  if (Table().Check(&now) != extlib::kPrjOk || now != s.generation + (own - s.own_writes)) {
    s.loaded = false;
    return;
  }
  s.generation = now;
  s.own_writes = own;
}

void DropIndex() { State().loaded = false; }

void NoteUnwritten(long slot, const PRJ& record) {
  IndexState& s = State();
  s.unwritten.push_back({record, slot});
  if (s.loaded) s.index.OnWrite(slot, record);
}

void UnwrittenDone(bool written) {
  IndexState& s = State();
  s.unwritten.clear();
  if (!written) s.loaded = false;
}

}  // namespace dovrane::admin

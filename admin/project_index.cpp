#include "admin/project_index.h"

#include <algorithm>

#include "extlib/administration.h"
#include "extlib/library_init.h"
#include "extlib/slot_files.h"
#include "platform/env.h"
#include "platform/path_map.h"

namespace dovrane::admin {

namespace {

struct Stamp {
  uint64_t inode = 0, size = 0;
  platform::FileTime modified;
  std::string path;
  bool operator==(const Stamp&) const = default;
};

struct IndexState {
  ProjectIndex index;
  Stamp stamp;
  bool loaded = false;
  std::vector<IndexedRecord> unwritten;
};

IndexState& State() {
  // Never destroyed: freeing a large index at exit would only cost time.
  static IndexState* state = new IndexState;
  return *state;
}

int StampNow(Stamp* stamp) {
  std::string path;
  if (extlib::lffnamC_new(extlib::kSlotNet, extlib::kAdministrationFile, &path) != 0) return -2;
  // The native spelling is looked up again only when the file is not found under it.
  static std::string last_path, last_native;
  path += '|' + platform::PathMap::Instance().UncRoot();  // the key: the mapping may change
  platform::FileInfo info;
  if (path != last_path || platform::CurrentEnv()->Stat(last_native, &info) != 0) {
    last_path = path;
    last_native = platform::NativePath(path.substr(0, path.rfind('|')));
    if (platform::CurrentEnv()->Stat(last_native, &info) != 0) return -2;
  }
  stamp->path = last_native;
  stamp->inode = info.inode;
  stamp->size = info.size;
  stamp->modified = info.modified;
  return 0;
}

void AddSorted(std::vector<long>* slots, long slot) {
  slots->insert(std::upper_bound(slots->begin(), slots->end(), slot), slot);
}

void RemoveFrom(std::vector<long>* slots, long slot) {
  auto it = std::find(slots->begin(), slots->end(), slot);
  if (it != slots->end()) slots->erase(it);
}

}  // namespace

std::vector<IndexedRecord> ProjectIndex::Records() const {
  std::vector<IndexedRecord> out;
  out.reserve(live_);
  for (size_t i = 0; i < slots_.size(); ++i)
    if (!extlib::IsDeleted(slots_[i])) out.push_back({slots_[i], static_cast<long>(i) + 1});
  return out;
}

bool ProjectIndex::FindName(const std::string& name, IndexedRecord* found) const {
  auto it = by_name_.find(extlib::PadName(name));
  if (it == by_name_.end() || it->second.empty()) return false;
  if (found) *found = {slots_[static_cast<size_t>(it->second.front() - 1)], it->second.front()};
  return true;
}

bool ProjectIndex::FindNumber(uint32_t number, IndexedRecord* found) const {
  auto it = by_number_.find(number);
  if (number == 0 || it == by_number_.end() || it->second.empty()) return false;
  if (found) *found = {slots_[static_cast<size_t>(it->second.front() - 1)], it->second.front()};
  return true;
}

long ProjectIndex::FirstFreeSlot() const {
  return free_slots_.empty() ? static_cast<long>(slots_.size()) + 1 : *free_slots_.begin();
}

int ProjectIndex::Load() {
  *this = ProjectIndex{};
  if (extlib::lftypeC(extlib::kSlotNet, extlib::kAdministrationFile, 0) < 0) return -2;
  int handle = extlib::open_prj_info(extlib::kSlotNet, extlib::kOpenExisting);
  if (handle < 0) return -1;
  extlib::NullRecord null_record;
  if (extlib::read_null_record(handle, &null_record) != 0) return -1;
  highest_ = extlib::NullRecordHighest(null_record);
  const long count = extlib::RecordSlotCount(handle);
  if (count < 0) return -1;
  slots_.resize(static_cast<size_t>(count));
  for (long slot = 1; slot <= count; ++slot)
    if (extlib::ReadRecordAtSlot(handle, slot, &slots_[static_cast<size_t>(slot - 1)]) != 0) {
      *this = ProjectIndex{};
      return -1;
    }
  for (long slot = 1; slot <= count; ++slot) Insert(slot);
  return 0;
}

void ProjectIndex::Insert(long slot) {
  const extlib::PRJ& r = slots_[static_cast<size_t>(slot - 1)];
  if (extlib::IsDeleted(r)) {
    free_slots_.insert(slot);
    return;
  }
  free_slots_.erase(slot);
  ++live_;
  AddSorted(&by_name_[std::string(r.name, extlib::kNameLength)], slot);
  if (r.number) {
    AddSorted(&by_number_[r.number], slot);
    ++numbers_[r.number];
  }
}

void ProjectIndex::Erase(long slot) {
  const extlib::PRJ& r = slots_[static_cast<size_t>(slot - 1)];
  if (extlib::IsDeleted(r)) {
    free_slots_.erase(slot);
    return;
  }
  --live_;
  RemoveFrom(&by_name_[std::string(r.name, extlib::kNameLength)], slot);
  if (r.number) {
    RemoveFrom(&by_number_[r.number], slot);
    if (--numbers_[r.number] == 0) numbers_.erase(r.number);
  }
}

void ProjectIndex::OnWrite(long slot, const extlib::PRJ& record) {
  if (slot < 1) return;
  if (static_cast<size_t>(slot) > slots_.size()) {
    extlib::PRJ deleted;
    deleted.name[0] = '#';
    while (static_cast<size_t>(slot) > slots_.size()) {
      slots_.push_back(deleted);
      free_slots_.insert(static_cast<long>(slots_.size()));
    }
  }
  Erase(slot);
  slots_[static_cast<size_t>(slot - 1)] = record;
  Insert(slot);
}

ProjectIndex* CurrentIndex(int* rc) {
  IndexState& s = State();
  Stamp now;
  int code = StampNow(&now);
  if (code == 0 && (!s.loaded || !(now == s.stamp))) {
    s.loaded = false;
    code = s.index.Load();
    // The stamp of the file as read; a write racing the read shows as a change next time.
    if (code == 0) {
      s.stamp = now;
      s.loaded = true;
      for (const IndexedRecord& r : s.unwritten) s.index.OnWrite(r.slot, r.record);
    }
  }
  if (rc) *rc = code;
  return code == 0 ? &s.index : nullptr;
}

void IndexFollowsFile() {
  IndexState& s = State();
  if (s.loaded && StampNow(&s.stamp) != 0) s.loaded = false;
}

void DropIndex() { State().loaded = false; }

void NoteUnwritten(long slot, const extlib::PRJ& record) {
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

#include "admin/entry_prefetch.h"

#include <cerrno>

#include "extlib/projects/attribute_cache_file.h"
#include "extlib/projects/project_info_file.h"
#include "platform/env.h"

namespace dovrane::admin {

EntryPrefetch::EntryPrefetch(platform::Env& env, int dirfd, std::vector<std::string> names)
    : env_(env), dirfd_(dirfd), names_(std::move(names)), results_(names_.size()), read_(names_.size()) {
  if (dirfd_ >= 0 && !names_.empty() && platform::IsPosixEnv(env_))
    thread_ = std::thread([this] {
      while (!stop_.load(std::memory_order_relaxed) && ReadNext()) {
      }
    });
}

EntryPrefetch::~EntryPrefetch() {
  stop_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
}

bool EntryPrefetch::ReadNext() {
  const size_t i = next_.fetch_add(1, std::memory_order_relaxed);
  if (i >= names_.size()) return false;
  PrefetchedEntry& r = results_[i];
  if (!names_[i].empty()) {
    r.stored = extlib::ReadProjectInfoAt(dirfd_, names_[i], &r.net_id, &r.record);
    platform::FileInfo info;
    r.cache_absent = env_.StatAt(dirfd_, names_[i] + "/" + extlib::kAttributeCacheFileName, &info) == -ENOENT;
  }
  read_[i].store(true, std::memory_order_release);
  return true;
}

const PrefetchedEntry* EntryPrefetch::Get(size_t i) {
  if (!thread_.joinable() || i >= names_.size() || names_[i].empty()) return nullptr;
  while (!read_[i].load(std::memory_order_acquire)) {
    // Taken by the other thread and being read: read a later one meanwhile.
    if (!ReadNext()) std::this_thread::yield();
  }
  return &results_[i];
}

}  // namespace dovrane::admin

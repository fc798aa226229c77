// Reads ahead, on a second thread, what the registration of a host's folder
// entries reads from each of them: the stored project record and whether an
// attribute disk cache lies there. A rebuild reads one small file per
// project; reading the next ones while the current one is registered halves
// the time the scan of a large host takes.
// Only plain reads go through the second thread, and only while the process
// uses the real operating system (a test's replacement Env is not shared).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "extlib/records/prj_record.h"
#include "extlib/projects/project_info_file.h"

namespace dovrane::platform {
class Env;
}

namespace dovrane::admin {

struct PrefetchedEntry {
  int stored = extlib::kProjectInfoDamaged;  // as ReadProjectInfoAt answered
  uint32_t net_id = 0;
  extlib::PRJ record;
  bool cache_absent = false;  // the folder certainly has no attribute disk cache
};

// Both threads take the next entry not yet taken and read it; the
// registering thread does so whenever the entry it needs is not read yet, so
// neither thread waits while there is reading left.
class EntryPrefetch {
 public:
  // Reads the entries (names of project folders below the open folder dirfd)
  // in this order. An empty name is passed over. Starts no thread when the
  // process works on a replaced Env or when there is nothing to read.
  // Reads through env, which must outlive the prefetch.
  EntryPrefetch(platform::Env& env, int dirfd, std::vector<std::string> names);
  ~EntryPrefetch();  // stops reading and waits for the thread
  EntryPrefetch(const EntryPrefetch&) = delete;
  EntryPrefetch& operator=(const EntryPrefetch&) = delete;

  // Entry i's result, once read (reading others meanwhile); null when
  // nothing was read ahead for it (the caller reads it itself).
  const PrefetchedEntry* Get(size_t i);

 private:
  // Takes and reads the next entry; false when every entry is taken.
  bool ReadNext();

  platform::Env& env_;
  const int dirfd_;
  const std::vector<std::string> names_;
  std::vector<PrefetchedEntry> results_;
  std::vector<std::atomic<bool>> read_;  // results_[i] is complete
  std::atomic<size_t> next_{0};          // the next entry to take
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace dovrane::admin

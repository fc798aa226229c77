// The lock every writer of the network's host list (\Net\data.cfg) holds
// from its read of the list to the rename of the new list into place, so two
// workstations adding or removing hosts at once cannot lose each other's
// lines. It is an exclusive lock of the whole file data.cfg (an
// open-file-description lock, as the administration's whole-file writers
// take), waited for at most the record lock time-out. The file is replaced
// by every write, so a lock taken on a file that was renamed away meanwhile
// is taken again on the one now in place; the list is read under the lock,
// never before it.
//
// While a writer holds the lock no other writer has a temporary
// ("data.cfg.new~PID") of its own beside the list, so whoever holds it may
// remove those a killed writer left. Readers take no lock: the list is
// always replaced whole.
#pragma once

#include <string>

namespace dovrane::platform {
class Env;
}

namespace dovrane::extlib {

class OperationContext;

class HostListLock {
 public:
  HostListLock() = default;
  ~HostListLock();
  HostListLock(const HostListLock&) = delete;
  HostListLock& operator=(const HostListLock&) = delete;

  // Locks the list at native path (waiting at most timeout_ms) and reads it
  // under the lock into *text; removes the temporaries of writers killed
  // half-way. 0, or -errno: -ENOENT (no list), -ELOOP (a symbolic link: no
  // lock is taken through it), -EFBIG, -EBUSY (another workstation kept it
  // locked all that time).
  [[nodiscard]] int Acquire(OperationContext& ctx, const std::string& native_path, int timeout_ms, std::string* text);
  // Replaces the list with text, crash-safe (new file, flush, rename), while
  // the lock is held. 0 or -errno (the list unchanged).
  [[nodiscard]] int Replace(const std::string& text);
  // Releases the lock (the destructor does too).
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  platform::Env* env_ = nullptr;  // the one the lock was taken through
  std::string path_;
};

// Removes what host list writers killed half-way left beside the list at
// native path: regular files named exactly "data.cfg.new~<digits>". Only
// under the list's lock, taken with a short wait; while another writer
// holds it (or without a list) they stay for a later run. How many went.
int RemoveDeadHostListTemporaries(OperationContext& ctx, const std::string& native_path);

// How long the update waits for the host list's lock before it leaves the
// temporaries to a later run.
inline constexpr int kHostListTemporaryWaitMs = 500;

}  // namespace dovrane::extlib

// One installation as the library sees it between calls: the path slots, the
// library's output switches, and the state that each layer keeps per
// installation (the host list read last, the scan's pending entries, the names
// of the last copy target folder). Everything that used to be a process-wide
// variable of these lives here, so two installations (or a test's own) do not
// share it.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <unordered_map>

#include "extlib/library_init.h"

namespace dovrane::extlib {

// May be shared between threads: every member guards itself. A part's own
// members are guarded by the part (see Part).
class Installation {
 public:
  Installation() = default;
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // The path slots (a path ends in a backslash; one is added otherwise, ""
  // unsets). 0, or -1 for a bad slot.
  int SetSlot(int slot, const std::string& path);
  // The slot's path, "" when unset or bad.
  std::string Slot(int slot) const;

  // Between lzinit and lzende.
  std::atomic<bool> initialised{false};
  // Where lfperrC writes: 1 standard error (the trace file), 0 a message box.
  std::atomic<int> perr_mode{0};
  // The file-access trace ("mit").
  std::atomic<int> trace{0};

  // The per-installation state of type T, made on first use and kept for the
  // installation's life (the reference stays valid). T guards its own members
  // when more than one thread uses it. Upper layers keep theirs here without
  // the library knowing their types.
  template <class T>
  T& Part() {
    std::lock_guard<std::mutex> guard(parts_mutex_);
    std::shared_ptr<void>& part = parts_[std::type_index(typeid(T))];
    if (!part) part = std::make_shared<T>();
    return *static_cast<T*>(part.get());
  }

  // The project table of project.dat belongs here too, as one more part; its
  // cache still lives in the project list and the project index.

 private:
  mutable std::mutex slots_mutex_;
  std::array<std::string, kSlotCount> slots_;
  std::mutex parts_mutex_;
  std::unordered_map<std::type_index, std::shared_ptr<void>> parts_;
};

// The installation the C-style library functions work on: the program's own,
// unless a test put its own in place. Process-wide, like the Env.
Installation& CurrentInstallation();
// Puts installation in place (null: the program's own again); returns the
// one that was in place. Not while another thread works on the installation.
Installation* SetCurrentInstallation(Installation* installation);

// An installation of its own for the time of a scope (tests, a second
// installation): the slots, caches and switches start empty.
class ScopedInstallation {
 public:
  ScopedInstallation() : previous_(SetCurrentInstallation(&own_)) {}
  ~ScopedInstallation() { SetCurrentInstallation(previous_); }
  ScopedInstallation(const ScopedInstallation&) = delete;
  ScopedInstallation& operator=(const ScopedInstallation&) = delete;
  Installation& get() { return own_; }

 private:
  Installation own_;
  Installation* previous_;
};

}  // namespace dovrane::extlib

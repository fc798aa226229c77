// One installation as the library sees it between calls: the path slots, the
// path map its Windows paths go through, the Env it works with, its project
// table, the library's output switches, and the state that each layer keeps
// per installation (the host list read last, the scan's pending entries, the
// names of the last copy target folder). An operation reaches it through its
// context (OperationContext::installation), so two installations in one
// process do not share any of it.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <unordered_map>

#include "extlib/installation/library_init.h"
#include "extlib/records/project_table.h"
#include "platform/env.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

// May be shared between threads: every member guards itself. A part's own
// members are guarded by the part (see Part).
class Installation {
 public:
  // The process's path map and Env (the program's own installation, and a
  // test's that shares the process's folders).
  Installation();
  // Its own path map, which must outlive it; env null: the process's Env.
  explicit Installation(platform::PathMap& paths, platform::Env* env = nullptr);
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
  T& Part() const {
    std::lock_guard<std::mutex> guard(parts_mutex_);
    std::shared_ptr<void>& part = parts_[std::type_index(typeid(T))];
    if (!part) part = std::make_shared<T>();
    return *static_cast<T*>(part.get());
  }

  // Where its Windows paths lie on this computer. Configured at start (or by
  // a test) before operations run; safe to use from several threads then.
  platform::PathMap& Paths() const { return *paths_; }
  // The Env its operations use.
  platform::Env& Env() const { return env_ ? *env_ : *platform::CurrentEnv(); }
  // The Env it was given, null when it follows the process's current one. What
  // outlives one operation (an open administration) keeps this, not Env().
  platform::Env* OwnEnv() const { return env_; }
  // The table of its administration (slot 23's project.dat). Thread-safe.
  ProjectTable& Projects() { return projects_; }

 private:
  platform::PathMap* paths_;
  platform::Env* env_;
  ProjectTable projects_{*this};
  mutable std::mutex slots_mutex_;
  std::array<std::string, kSlotCount> slots_;
  mutable std::mutex parts_mutex_;
  mutable std::unordered_map<std::type_index, std::shared_ptr<void>> parts_;
};

// The process default: the installation the C-style library names (lfinipC,
// lfinigC, GetHostList without an installation, the project lookups) act on,
// and the one the two mains give their contexts. The program's own, unless a
// test put its own in place. Code that has a context uses its installation.
Installation& ProcessInstallation();
// Puts installation in place as the process default (null: the program's own
// again); returns the one that was in place. Not while another thread works
// on the process default.
Installation* SetProcessInstallation(Installation* installation);

// A process default of its own for the time of a scope (tests of the C-style
// names): the slots, caches and switches start empty.
class ScopedInstallation {
 public:
  ScopedInstallation() : previous_(SetProcessInstallation(&own_)) {}
  ~ScopedInstallation() { SetProcessInstallation(previous_); }
  ScopedInstallation(const ScopedInstallation&) = delete;
  ScopedInstallation& operator=(const ScopedInstallation&) = delete;
  Installation& get() { return own_; }

 private:
  Installation own_;
  Installation* previous_;
};

}  // namespace dovrane::extlib

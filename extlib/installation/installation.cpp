#include "extlib/installation/installation.h"

#include "extlib/projects/project_code.h"

namespace dovrane::extlib {

namespace {

std::atomic<Installation*> g_current{nullptr};

Installation& ProgramInstallation() {
  // Never destroyed: workers may still read it while the process ends, and a
  // large project table freed at exit would only cost time.
  static Installation* own = new Installation;
  return *own;
}

}  // namespace

Installation::Installation() : Installation(platform::PathMap::Instance()) {}

Installation::Installation(platform::PathMap& paths, platform::Env* env) : paths_(&paths), env_(env) {}

int Installation::SetSlot(int slot, const std::string& path) {
  if (slot < 0 || slot >= kSlotCount) return kPrjFailed;
  std::string value = path;
  if (!value.empty() && value.back() != '\\') value.push_back('\\');
  std::lock_guard<std::mutex> guard(slots_mutex_);
  slots_[static_cast<size_t>(slot)] = std::move(value);
  return 0;
}

std::string Installation::Slot(int slot) const {
  if (slot < 0 || slot >= kSlotCount) return "";
  std::lock_guard<std::mutex> guard(slots_mutex_);
  return slots_[static_cast<size_t>(slot)];
}

Installation& ProcessInstallation() {
  Installation* current = g_current.load(std::memory_order_acquire);
  return current ? *current : ProgramInstallation();
}

Installation* SetProcessInstallation(Installation* installation) {
  Installation* previous = g_current.exchange(installation, std::memory_order_acq_rel);
  return previous ? previous : &ProgramInstallation();
}

}  // namespace dovrane::extlib

#include "extlib/installation.h"

#include "extlib/project_code.h"

namespace dovrane::extlib {

namespace {

std::atomic<Installation*> g_current{nullptr};

Installation& ProgramInstallation() {
  static Installation own;
  return own;
}

}  // namespace

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

Installation& CurrentInstallation() {
  Installation* current = g_current.load(std::memory_order_acquire);
  return current ? *current : ProgramInstallation();
}

Installation* SetCurrentInstallation(Installation* installation) {
  Installation* previous = g_current.exchange(installation, std::memory_order_acq_rel);
  return previous ? previous : &ProgramInstallation();
}

}  // namespace dovrane::extlib

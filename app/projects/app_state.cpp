#include "app/projects/app_state.h"

#include <mutex>

namespace dovrane::app {

void* g_main_dialog = nullptr;

namespace {

// What one run of the program remembers of its start and its check-out: the
// process's own (the system starts a process in one folder, and the mains set
// both), not an installation's.
struct RunNames {
  std::mutex mutex;
  std::string checkout_name;
  std::string start_folder;
};

RunNames& Names() {
  static RunNames* names = new RunNames;  // never destroyed: workers may read it while the process ends
  return *names;
}

constexpr size_t kCheckoutNameSize = 256;

}  // namespace

std::string CheckoutName() {
  RunNames& n = Names();
  std::lock_guard<std::mutex> guard(n.mutex);
  return n.checkout_name;
}

void SetCheckoutName(const std::string& name) {
  RunNames& n = Names();
  std::lock_guard<std::mutex> guard(n.mutex);
  n.checkout_name = name.substr(0, kCheckoutNameSize - 1);
}

std::string StartFolder() {
  RunNames& n = Names();
  std::lock_guard<std::mutex> guard(n.mutex);
  return n.start_folder;
}

void SetStartFolder(const std::string& folder) {
  RunNames& n = Names();
  std::lock_guard<std::mutex> guard(n.mutex);
  n.start_folder = folder;
}

}  // namespace dovrane::app

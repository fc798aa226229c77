#include "network/deadline_call.h"

#include <atomic>

namespace dovrane::network {

namespace {
std::atomic<int> g_helpers{0};
}  // namespace

int RunningDeadlineHelpers() { return g_helpers.load(); }
void CountDeadlineHelper(int delta) { g_helpers.fetch_add(delta); }

}  // namespace dovrane::network

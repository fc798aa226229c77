#include "extlib/installation/host_going_out.h"

#include "extlib/installation/library_init.h"
#include "extlib/installation/slot_files.h"

namespace dovrane::extlib {

namespace {
// The full administration a check-out keeps beside its copy's own.
constexpr char kCheckedOutCopyMarker[] = "project.dat.chkout";
}  // namespace

bool HostGoingOut(OperationContext& ctx, const std::string& host) {
  if (host.empty() || lftypeC(ctx, kSlotNet, host + ".out", 0) != 0) return false;
  return lftypeC(ctx, kSlotNet, kCheckedOutCopyMarker, 0) != 0;
}

}  // namespace dovrane::extlib

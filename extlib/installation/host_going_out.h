// Whether a host is going out or out: its host check-out information file
// ("<HOST>.out") lies in the network's \Net from the first step of its
// check-out until its check-in ends. Such a host takes no project from
// another computer (a create, a copy or a move onto it is refused), so that
// nothing arrives that neither its copy nor a mark covers.
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::extlib {

// True when slot 23's \Net holds host's check-out information file and is
// the network's own: a checked-out copy (it keeps project.dat.chkout) carries
// the file too, and there the host is the laptop's own to work on.
[[nodiscard]] bool HostGoingOut(OperationContext& ctx, const std::string& host);

}  // namespace dovrane::extlib

// A host check-out or check-in of this computer that did not reach its end
// (the program was killed, the computer lost power): how to recognise it, and
// how to take a check-out cut short back. Finishing is done by the check-out
// and the check-in themselves: run again, each completes what the first run
// began (checkout.h, checkin.h).
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::checkout {

enum class Unfinished {
  kNone,      // nothing of this host's check-out or check-in is left half done
  kCheckout,  // a check-out of this host was cut short: traces, not switched over
  kCheckin,   // InstallRoot\CheckingInPath is set: a check-in is under way
};

// What this computer, as host, left unfinished. Only the host named like this
// computer can have been checked out here; while InstallRoot\CheckedOutPath
// is set the check-out went through (kNone). A check-out cut short is
// recognised by what only it leaves: the host check-out information file or
// its temporary, a mark 0x04 on a record of this host (only this host's own
// check-out sets it), a project information file or temporary of such a
// check-out, the copy's work folder \Net.new~ or a copy of \Net in place
// without the setting. Looks at the shares: not for the window's thread.
Unfinished FindUnfinished(extlib::OperationContext& ctx, const std::string& host);

// Takes back a check-out of host (this computer) cut short, touching only what
// that check-out can be proved to have made: the marks 0x04 on this host's
// records, the project information files written by this computer for them,
// the temporaries "<HOST>.out.new~PID" and "nNNNNNNN.out.new~PID" of this
// host's projects (not one naming another computer, not one of a project
// checked out on its own), the copy's work folder, a copy of \Net in place
// (the earlier \Net back from \Net.ChkOut), the settings test value, and last
// the host check-out information file, so that a take-back cut short is still
// recognised. Office-standard files the check-out copied stay (copies of the
// network's; the next check-out replaces them). 1 when everything is back,
// 0 after a refusal or a failure (shown).
[[nodiscard]] int TakeBackCheckout(extlib::OperationContext& ctx, const std::string& host);

// Deletes the temporaries of information files that a check-out of host cut
// short left in the network \Net (the ones TakeBackCheckout would delete), for
// the check-out that finishes it. Failures are left to the next run.
void RemoveCheckoutTemporaries(extlib::OperationContext& ctx, const std::string& host);

}  // namespace dovrane::checkout

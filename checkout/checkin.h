// Check-in: a checked-out host comes back into the network installation, or
// a singly checked-out project is given back. Runs without a window; every
// question goes through the context's messenger.
//
// Host mode, in this order, each step one that a second run may repeat:
// the refusals that change nothing; the backup of the shared files; the
// machine setting InstallRoot\CheckingInPath (the check-in under way) put,
// then InstallRoot\CheckedOutPath deleted; the host's projects
// released (0x04) and their information files deleted; renames and changes
// the host made taken over into their records; the update of the host (scan,
// then the check of its records); the report; the copy of \Net removed and
// the earlier \Net put back; the host information file deleted; and last
// InstallRoot\CheckingInPath deleted. A check-in that stops early (a failure
// or a crash) leaves InstallRoot\CheckingInPath: running check-in again
// finishes it.
#pragma once

#include <string>
#include <vector>

#include "checkout/checkin_report.h"
#include "checkout/checkout_info_file.h"

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::checkout {

enum CheckinMode : int { kCheckinHost = 0, kCheckinProject = 1 };

// Marks a check-in under way on this computer; its value is the checked-out folder.
inline constexpr char kCheckingInPath[] = "InstallRoot\\CheckingInPath";
// Names the checked-out folder while this computer's host is checked out.
inline constexpr char kCheckedOutPath[] = "InstallRoot\\CheckedOutPath";
// In the copy of \Net: a check-in under way has taken the host's records over
// and registered its folders; a run that finishes it does not take them again.
inline constexpr char kCheckinJournalName[] = "checkin.journal";
// The value a host check-out writes first, to learn it may write the settings.
inline constexpr char kCheckoutWriteTest[] = "InstallRoot\\ChkOut_Test";

// Mode 0 checks the host named by list[0].host back in, mode 1 gives back
// the single project of list[0]; any other mode does nothing and returns 1.
// 1 on success, 0 when the check-in was refused (nothing changed) or stopped
// early (shown; a second run completes it).
[[nodiscard]] int CheckIn(extlib::OperationContext& ctx, int mode, const std::vector<CheckoutEntry>& list);

// Host mode; CheckIn passes on. *report receives the check-in report.
[[nodiscard]] int CheckInHost(extlib::OperationContext& ctx, const std::vector<CheckoutEntry>& list, CheckinReport* report);

}  // namespace dovrane::checkout

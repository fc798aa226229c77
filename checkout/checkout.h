// Check-out of a host or of a single project. A host (a portable computer
// registered as a data server) takes a copy of the network's \Net and of the
// chosen office standard into its data folder, its projects are marked in the
// network administration, check-out information files are left in the
// network's \Net, and the machine setting InstallRoot\CheckedOutPath switches
// the installation on the host to the copy. A single project is only marked
// and gets its information file.
//
// Everything runs without a window: the answers of the two dialogs come from
// the caller, every other question goes through the context's messenger, the
// copies report to its progress and stop at its cancel.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "checkout/checkout_info_file.h"
#include "checkout/office_standard.h"

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::checkout {

enum CheckoutMode : int { kCheckoutHost = 0, kCheckoutProject = 1 };

// What the two dialogs answered; an empty optional is a cancelled dialog.
struct CheckoutAnswers {
  std::optional<std::string> comment;       // the comment dialog
  std::optional<StdItemTable> components;   // the office-standard dialog (host mode)
  // The person chose to finish this host's check-out cut short: the marks
  // 0x04 on its projects are this check-out's own, even when the host
  // check-out information file was deleted meanwhile. Otherwise a marked
  // project asks Abort, Retry, Ignore.
  bool finish_cut_short = false;
};

// Checks out the host named by list[0].host (mode 0) or the single project
// of list[0] (mode 1). 1 when the check-out went through, 0 when it was
// refused, cancelled or failed (shown in a message box). A check-out that
// does not go through leaves the installation as it was: whatever it changed
// is taken back before it returns.
//
// Host mode, in this order: the refusals that change nothing (already checked
// out, not this computer, no data path, the administration server itself, a
// cancelled dialog, settings that cannot be written); the host check-out
// information file; the copy of \Net made whole beside its place; the office
// standard; the project marks with their information files (Abort, Retry,
// Ignore for a project that cannot be marked); the copy renamed into place;
// and last InstallRoot\CheckedOutPath, the one write that makes the host
// checked out. After a crash before that write, checking the host out again
// completes the check-out: the marks and information files of this host
// found then count as its own.
[[nodiscard]] int CheckOut(extlib::OperationContext& ctx, int mode, const std::vector<CheckoutEntry>& list,
             const CheckoutAnswers& answers);

// This computer's data path as the network's host list registers it ("\cad"):
// 0, -19 when the computer is not listed, or -2 / -1 when the list cannot be
// read (shown with the file error message (3, 1)).
[[nodiscard]] int FindLocalDataPath(extlib::OperationContext& ctx, std::string* local_data_path);

// Host mode; CheckOut passes list and answers on.
[[nodiscard]] int CheckOutHost(extlib::OperationContext& ctx, const std::vector<CheckoutEntry>& list,
                 const CheckoutAnswers& answers);

}  // namespace dovrane::checkout

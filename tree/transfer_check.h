// Whether a project may be moved or copied onto a host, from what the trees
// know of both (their kinds), and the message of each refusal. The window
// asks this before a paste, and while a drag hovers, so that a refused drop
// shows as refused before the button is released and changes nothing.
#pragma once

#include <cstdint>
#include <string>

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::tree {

enum class TransferRefusal {
  kNone,
  kNotFree,           // the project is in use, checked out or unreachable
  kNotHost,           // the target is no host item (a project, a child, the host tree's empty area)
  kOwnHost,           // already there
  kHostCheckedOut,    // the target host is checked out
  kHostNotAnswering,  // the target host did not answer its ping
};

struct TransferCheck {
  uint32_t project_kind = 0;
  std::string project_host;
  uint32_t target_kind = 0;  // 0: no host item
  std::string target_host;
  bool copy = false;
  // A copy may go onto its own host when pasted (it is how a project is
  // duplicated there); a drop onto its own host does nothing.
  bool copy_onto_own_host = false;
};

TransferRefusal CheckTransfer(const TransferCheck& check);
// The image of a project of this kind, marked for moving or not.
int TransferMarkImage(uint32_t project_kind, bool marked);
// Shows the refusal's message for project `name` (kNone and kNotHost show
// nothing: the latter only beeps, which the window does).
void ReportTransferRefusal(extlib::OperationContext& ctx, TransferRefusal refusal, uint32_t project_kind,
                           const std::string& name, const std::string& target_host);

}  // namespace dovrane::tree

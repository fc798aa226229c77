#include "checkout/project_status.h"

#include "extlib/administration.h"
#include "extlib/library_init.h"
#include "extlib/project_code.h"
#include "extlib/project_list.h"
#include "platform/text_codec.h"

namespace dovrane::checkout {

namespace {

// The status after the action, or false when the action refuses it.
bool Apply(StatusAction action, unsigned char* flags) {
  switch (action) {
    case StatusAction::kTakeWithHost:
      if (*flags & kHostCheckedOut) return false;
      *flags |= kHostCheckedOut;
      return true;
    case StatusAction::kReturnFromHost:
      *flags &= static_cast<unsigned char>(~kHostCheckedOut);
      return true;
    case StatusAction::kTakeProject:
      // A project out with its host is out already: a mark of its own, even
      // for a moment, would change a record the host's check-in relies on.
      if (*flags & (kProjectCheckedOut | kHostCheckedOut)) return false;
      *flags |= kProjectCheckedOut;
      return true;
    case StatusAction::kReturnProject:
      if (!(*flags & kProjectCheckedOut)) return false;
      *flags &= static_cast<unsigned char>(~kProjectCheckedOut);
      return true;
    default:
      return true;
  }
}

}  // namespace

bool ChangeProjectStatus(const std::string& project, StatusAction action, const std::string& on_host) {
  using namespace extlib;
  if (action < StatusAction::kTakeWithHost || action > StatusAction::kReturnProject) return true;
  const int handle = open_prj_info(kSlotNet, kOpenExisting);
  if (handle < 0) return false;
  RecordLock lock;
  int rc = LockRecordByName(kSlotNet, project, &lock);
  // No record: nothing to mark. Any other failure (unreadable, locked) is one.
  if (rc == kPrjNotFound) return true;
  if (rc != 0) return false;
  bool ok = false;
  const long slot = lock.slot();
  PRJ record;
  if (slot >= 1 && ReadRecordAtSlot(handle, slot, &record) == kRecordRead &&
      (on_host.empty() || platform::EqualsIgnoreCaseCp1252(record.host, on_host))) {
    // The marks are bits of the character itself (the blank plus flags), so
    // every other bit stays as it is.
    unsigned char character = record.status < kStatusBlank ? kStatusBlank : record.status;
    if (Apply(action, &character)) {
      const unsigned char wanted = character;
      record.status = wanted;
      PRJ back;
      ok = WriteRecordAtSlot(handle, slot, &record) == 0 && ReadRecordAtSlot(handle, slot, &back) == kRecordRead &&
           back.status == wanted;
    }
  }
  if (lock.Release() != 0) ok = false;
  UnCachPrjList();
  return ok;
}

}  // namespace dovrane::checkout

#include "checkout/project_status.h"

#include <algorithm>
#include <set>

#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_layout.h"
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

bool ChangeProjectStatus(extlib::OperationContext& ctx, const std::string& project, StatusAction action,
                         const std::string& on_host) {
  using namespace extlib;
  if (action < StatusAction::kTakeWithHost || action > StatusAction::kReturnProject) return true;
  const int handle = open_prj_info(ctx, kSlotNet, kOpenExisting);
  if (handle < 0) return false;
  RecordLock lock;
  int rc = LockRecordByName(ctx, kSlotNet, project, &lock);
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
      ok = WriteRecordAtSlot(ctx, handle, slot, &record) == 0 && ReadRecordAtSlot(handle, slot, &back) == kRecordRead &&
           back.status == wanted;
    }
  }
  if (lock.Release() != 0) ok = false;
  UnCachPrjList(ctx);
  return ok;
}

StatusPass::StatusPass(std::string on_host) : on_host_(std::move(on_host)) {}

int StatusPass::Take(extlib::OperationContext& ctx, bool again) {
  if (again) UnCachPrjList(ctx);
  ++list_reads_;
  return ctx.installation().Projects().Take(ctx, &list_);
}

long StatusPass::Hint(const std::string& padded) const {
  const size_t i = list_->FindName(padded);
  return i == extlib::ProjectSnapshot::kNone ? -1 : list_->Slots()[i];
}

long StatusPass::Number(extlib::OperationContext& ctx, const std::string& project) {
  if (!list_)
    if (int rc = Take(ctx, false); rc != 0) return rc;
  const size_t i = list_->FindName(extlib::PadName(project));
  return i == extlib::ProjectSnapshot::kNone ? long{extlib::kPrjNotFound} : static_cast<long>(list_->Number(i));
}

bool StatusPass::SeenStatus(const std::string& project, unsigned char* status) const {
  auto it = seen_.find(extlib::PadName(project));
  if (it == seen_.end()) return false;
  *status = it->second;
  return true;
}

int StatusPass::ChangeAt(extlib::OperationContext& ctx, long slot, const std::string& padded, StatusAction action) {
  using namespace extlib;
  const int handle = open_prj_info(ctx, kSlotNet, kOpenExisting);
  if (handle < 0) return 0;
  RecordLock lock;
  if (LockRecordAtSlot(ctx, handle, slot, &lock) != 0) return 0;
  PRJ record;
  // The hint holds when the slot still has this project's live record.
  if (ReadRecordAtSlot(handle, slot, &record) != kRecordRead || IsDeleted(record) || padded != record.name) {
    (void)lock.Release();  // nothing was changed under it
    return -1;
  }
  seen_[padded] = record.status;
  bool ok = false;
  if (on_host_.empty() || platform::EqualsIgnoreCaseCp1252(record.host, on_host_)) {
    unsigned char character = record.status < kStatusBlank ? kStatusBlank : record.status;
    if (Apply(action, &character)) {
      record.status = character;
      PRJ back;
      ok = WriteRecordAtSlot(ctx, handle, slot, &record) == 0 && ReadRecordAtSlot(handle, slot, &back) == kRecordRead &&
           back.status == character;
    }
  }
  if (lock.Release() != 0) ok = false;
  return ok ? 1 : 0;
}

void StatusPass::ChangeAll(extlib::OperationContext& ctx, const std::vector<std::string>& projects, StatusAction action,
                           std::vector<bool>* done) {
  using namespace extlib;
  done->assign(projects.size(), false);
  if (action < StatusAction::kTakeWithHost || action > StatusAction::kReturnProject) {
    done->assign(projects.size(), true);
    return;
  }
  std::vector<size_t> alone;  // changed one by one
  std::vector<RecordLock> locks;
  std::vector<long> slots;
  std::vector<PRJ> records;
  std::vector<size_t> of;  // the project of each record written
  std::set<long> taken;
  const int handle = open_prj_info(ctx, kSlotNet, kOpenExisting);
  if (handle < 0 || (!list_ && Take(ctx, false) != 0)) {
    for (size_t i = 0; i < projects.size(); ++i) alone.push_back(i);
  } else {
    // Locked in slot order: two passes over the same records never wait for each other in a circle.
    std::vector<std::pair<long, size_t>> by_slot;
    for (size_t i = 0; i < projects.size(); ++i) by_slot.emplace_back(Hint(PadName(projects[i])), i);
    std::sort(by_slot.begin(), by_slot.end());
    // Records close together are locked a group at a time where nobody holds
    // one of the group (never waiting for it); the others one by one.
    std::vector<long> hinted;
    for (const auto& [slot, i] : by_slot)
      if (slot >= 1 && (hinted.empty() || hinted.back() != slot)) hinted.push_back(slot);
    std::vector<bool> grouped;
    RecordRangeLocks groups;
    if (groups.Take(handle, hinted.data(), hinted.size(), &grouped) != 0) grouped.assign(hinted.size(), false);
    auto in_group = [&](long slot) {
      return grouped[static_cast<size_t>(std::lower_bound(hinted.begin(), hinted.end(), slot) - hinted.begin())];
    };
    for (const auto& [slot, i] : by_slot) {
      const std::string padded = PadName(projects[i]);
      seen_.erase(padded);
      if (slot < 1 || taken.count(slot)) {
        alone.push_back(i);
        continue;
      }
      RecordLock lock;  // none for a record of a group: the group holds it
      if (!in_group(slot) && LockRecordAtSlot(ctx, handle, slot, &lock) != 0) continue;  // not lockable in time: refused
      PRJ record;
      if (ReadRecordAtSlot(handle, slot, &record) != kRecordRead || IsDeleted(record) || padded != record.name) {
        (void)lock.Release();
        alone.push_back(i);
        continue;
      }
      seen_[padded] = record.status;
      unsigned char character = record.status < kStatusBlank ? kStatusBlank : record.status;
      if ((!on_host_.empty() && !platform::EqualsIgnoreCaseCp1252(record.host, on_host_)) ||
          !Apply(action, &character)) {
        (void)lock.Release();
        continue;
      }
      record.status = character;
      taken.insert(slot);
      locks.push_back(std::move(lock));
      slots.push_back(slot);
      records.push_back(record);
      of.push_back(i);
    }
    const bool written = WriteRecordsAtSlots(ctx, handle, slots.data(), records.data(), records.size()) == 0;
    const bool groups_released = groups.Release() == 0;
    for (size_t k = 0; k < of.size(); ++k) {
      const bool released = locks[k].Release() == 0 && (!in_group(slots[k]) || groups_released);
      if (written) {
        (*done)[of[k]] = released;
      } else {
        alone.push_back(of[k]);  // each tried on its own, which tells which one fails
      }
    }
  }
  std::sort(alone.begin(), alone.end());
  for (size_t i : alone) (*done)[i] = Change(ctx, projects[i], action);
}

bool StatusPass::Change(extlib::OperationContext& ctx, const std::string& project, StatusAction action) {
  if (action < StatusAction::kTakeWithHost || action > StatusAction::kReturnProject) return true;
  const std::string padded = extlib::PadName(project);
  seen_.erase(padded);
  if (list_ || Take(ctx, false) == 0) {
    const long slot = Hint(padded);
    if (slot >= 1) {
      const int rc = ChangeAt(ctx, slot, padded, action);
      if (rc >= 0) return rc == 1;
      // The list is out of date: read again for the projects still to come.
      if (Take(ctx, true) == 0)
        if (const long now = Hint(padded); now >= 1)
          if (const int again = ChangeAt(ctx, now, padded, action); again >= 0) return again == 1;
    }
  }
  // Not in the list (or the list unreadable): looked up in the file as it is now.
  return ChangeProjectStatus(ctx, project, action, on_host_);
}

}  // namespace dovrane::checkout

// The two check-out marks of a project's status in the administration:
// 0x04 the project went out with its host, 0x01 it went out alone.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "extlib/records/prj_record.h"
#include "extlib/records/project_table.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::checkout {

inline constexpr unsigned char kProjectCheckedOut = extlib::kStatusProjectOut;
inline constexpr unsigned char kHostCheckedOut = extlib::kStatusHostOut;

enum class StatusAction { kNone = 0, kTakeWithHost = 1, kReturnFromHost = 2, kTakeProject = 3, kReturnProject = 4 };

// Changes one project's mark and verifies it, the whole change under the
// record's lock (read, change, write, read back, unlock on every path), so
// two workstations marking at once never both succeed. Taking a mark that is
// already set and returning a single check-out that is not set fail;
// returning from the host clears 0x04 without looking. A project that has no
// record needs no mark: true. An administration that cannot be read: false.
// Other status bits stay.
// With on_host, a record that names another host is not changed (false): a
// project moved off the host meanwhile does not go out with it.
bool ChangeProjectStatus(extlib::OperationContext& ctx, const std::string& project, StatusAction action,
                         const std::string& on_host = "");

// The marks of many projects changed in one pass over the administration: the
// project list is read once, at the first change, and the slot of each record
// taken from it is only a hint, checked under the record's lock. Each Change
// keeps the contract of ChangeProjectStatus (the record locked while it is
// read, changed, written and read back); a hint that does not hold (the
// record moved, was renamed, erased or added since the list was read) is
// looked up again in the file as it is now. Without the pass each change
// would read the whole administration again, as the write before it changed
// the file. For one thread.
class StatusPass {
 public:
  explicit StatusPass(std::string on_host = "");

  bool Change(extlib::OperationContext& ctx, const std::string& project, StatusAction action);
  // The same for many projects at once: every record locked and checked,
  // all changed records written with one flush (WriteRecordsAtSlots), then
  // every lock released. Records close together are locked a group at a
  // time with the records between them (extlib::RecordRangeLocks), and each
  // group is one write. (*done)[i]: what Change(projects[i]) would answer.
  // Projects whose hint fails (or that are named twice) are changed one by
  // one after the others.
  void ChangeAll(extlib::OperationContext& ctx, const std::vector<std::string>& projects, StatusAction action,
                 std::vector<bool>* done);
  // The project's number in the pass's list, or the negative project code.
  long Number(extlib::OperationContext& ctx, const std::string& project);
  // The status character the last Change of project found under its lock
  // (before changing it). False when no Change of it read the record.
  bool SeenStatus(const std::string& project, unsigned char* status) const;
  // How often the pass read the whole list: 1, more only where hints failed.
  int ListReads() const { return list_reads_; }

 private:
  int Take(extlib::OperationContext& ctx, bool again);
  // The slot of project in the list, or -1.
  long Hint(const std::string& padded) const;
  // The change at one locked slot: 1 done, 0 refused, -1 the hint failed.
  int ChangeAt(extlib::OperationContext& ctx, long slot, const std::string& padded, StatusAction action);

  const std::string on_host_;
  extlib::SnapshotPtr list_;
  int list_reads_ = 0;
  std::map<std::string, unsigned char> seen_;
};

}  // namespace dovrane::checkout

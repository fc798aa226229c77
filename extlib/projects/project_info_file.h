// The identifier and record a project folder keeps of the administration
// that registered it (prjinfo.dat), so that a folder brought from elsewhere
// or found by a rebuild is recognised.
#pragma once

#include <cstdint>
#include <string>

#include "extlib/records/prj_record.h"
#include "extlib/projects/project_code.h"

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::extlib {

inline constexpr char kProjectInfoFile[] = "prjinfo.dat";

std::string FormatProjectInfo(uint32_t net_id, const PRJ& record, int containers);
// What reading a stored record answers: not project codes, and never passed
// on as one.
enum ProjectInfoRead : int {
  kProjectInfoRead = 0,
  kProjectInfoDamaged = -1,
  kProjectInfoNone = -2,
  // The stored record exists but could not be read (an I/O error, not damage).
  kProjectInfoUnreadable = -100,
};
static_assert(!IsProjectCode(kProjectInfoUnreadable), "an unreadable stored record is no project's answer");

// 0, or -1 for a damaged text.
[[nodiscard]] int ParseProjectInfo(const std::string& text, uint32_t* net_id, PRJ* record);
// The same on a native project folder: a ProjectInfoRead.
[[nodiscard]] int ReadProjectInfo(const std::string& native_dir, uint32_t* net_id, PRJ* record);
// The same on a folder given relative to the open folder dirfd.
[[nodiscard]] int ReadProjectInfoAt(int dirfd, const std::string& dir, uint32_t* net_id, PRJ* record);
// 0 or -errno, as the system answered (-EINVAL: the record does not fit the
// layout), so that the caller can name the failure.
[[nodiscard]] int WriteProjectInfo(const std::string& native_dir, uint32_t net_id, const PRJ& record);

// On the project folder in path slot `slot`: a ProjectInfoRead, -1 also for
// an unset slot.
[[nodiscard]] int NetID_ReadPrjInfo(extlib::OperationContext& ctx, int slot, uint32_t* net_id, PRJ* record);
// As WriteProjectInfo; -EINVAL also for an unset slot.
[[nodiscard]] int NetID_WritePrjInfo(extlib::OperationContext& ctx, int slot, uint32_t net_id, const PRJ& record);

}  // namespace dovrane::extlib

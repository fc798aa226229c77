// The identifier and record a project folder keeps of the administration
// that registered it (prjinfo.dat), so that a folder brought from elsewhere
// or found by a rebuild is recognised.
#pragma once

#include <cstdint>
#include <string>

#include "extlib/prj_record.h"

namespace dovrane::extlib {

inline constexpr char kProjectInfoFile[] = "prjinfo.dat";

std::string FormatProjectInfo(uint32_t net_id, const PRJ& record, int containers);
// 0, or -1 for a damaged text.
int ParseProjectInfo(const std::string& text, uint32_t* net_id, PRJ* record);
// The same on a native project folder: 0, -2 none stored, -1 damaged.
int ReadProjectInfo(const std::string& native_dir, uint32_t* net_id, PRJ* record);
// The same on a folder given relative to the open folder dirfd.
int ReadProjectInfoAt(int dirfd, const std::string& dir, uint32_t* net_id, PRJ* record);
int WriteProjectInfo(const std::string& native_dir, uint32_t net_id, const PRJ& record);

// The stored record exists but could not be read (an I/O error, not damage).
inline constexpr int kProjectInfoUnreadable = -5;

// On the project folder in path slot `slot`. 0 or negative (-2: none stored,
// kProjectInfoUnreadable: stored but unreadable just now).
int NetID_ReadPrjInfo(int slot, uint32_t* net_id, PRJ* record);
int NetID_WritePrjInfo(int slot, uint32_t net_id, const PRJ& record);

}  // namespace dovrane::extlib

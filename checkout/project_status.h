// The two check-out marks of a project's status in the administration:
// 0x04 the project went out with its host, 0x01 it went out alone.
#pragma once

#include <string>

#include "extlib/prj_record.h"

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
bool ChangeProjectStatus(const std::string& project, StatusAction action, const std::string& on_host = "");

}  // namespace dovrane::checkout

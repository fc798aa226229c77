// The command-line rows that reach the administration repair: -restore and
// -update (alone), -update host, -checkin path and -usercfg num_users.
#pragma once

#include <string>

#include "app/command_table.h"

namespace dovrane::app {

// -restore / -update alone: a missing administration is restored whichever
// was given; -restore over a project.dat whose header cannot be read keeps it
// as project.dat.sav and restores; otherwise the version check, then the
// update. An interactive
// run that succeeded ends with the final notice (language text 2500495).
[[nodiscard]] int RunRestore(const CommandArgs& args);
[[nodiscard]] int RunUpdate(const CommandArgs& args);
// -update hostname ("localhost": this computer, when it is one of the hosts).
[[nodiscard]] int RunUpdateHost(const CommandArgs& args);
[[nodiscard]] int RunCheckin(const CommandArgs& args);
[[nodiscard]] int RunUserCount(const CommandArgs& args);

inline constexpr long kRepairNoticeText = 2500495;

}  // namespace dovrane::app

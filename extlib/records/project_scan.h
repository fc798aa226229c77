// One project looked up by one pass over project.dat, for a run that asks
// for a single project: the file is read once, sequentially, and no project
// table is built. The answers are the lookups' own (extlib/project_list.h).
#pragma once

#include <string>

#include "extlib/records/prj_record.h"

namespace dovrane::extlib {

class OperationContext;

// The first live record (in slot order) with this name, padded to 50, in
// slot 23's administration: 0, -2 no administration, -3 no such project, -1
// unreadable. Every record is read, so a damaged line anywhere makes the
// administration unreadable, as for get_project_info; anything but a found
// or missing project is answered (and reported) by get_project_info itself.
// In the operation's installation.
[[nodiscard]] int ScanProjectInfo(OperationContext& ctx, const std::string& name, PRJ* record);

}  // namespace dovrane::extlib

// What a project must allow before it is moved or erased: it is not private,
// the administration knows it, and the user has the owner's rights.
#pragma once

#include <string>

#include "extlib/prj_record.h"

namespace dovrane::app {

// 0 with the project's record, else the code, shown once: a private project
// gives the warning "Can't <verb> a private project." and private_code, a
// failed lookup or missing owner rights their own code.
int CheckMayChangeProject(const std::string& padded_name, const char* verb, int private_code, extlib::PRJ* record);

}  // namespace dovrane::app

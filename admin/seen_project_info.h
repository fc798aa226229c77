// The stored project records a rebuild has just read from project folders,
// by number: writing the identifier afterwards leaves a folder alone whose
// stored record it already knows to be what would be written, instead of
// reading every folder a second time.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "extlib/records/prj_record.h"

namespace dovrane::admin {

struct SeenProjectInfo {
  std::string host;      // the host whose folder was read
  uint32_t net_id = 0;   // the identifier stored there
  extlib::PRJ record;    // the record stored there
};

using SeenProjectInfos = std::unordered_map<uint32_t, SeenProjectInfo>;

}  // namespace dovrane::admin

// Shared checks of the record fuzzers: a parsed record that the writer accepts
// reads back as the same record.
#pragma once

#include <cstdlib>
#include <cstring>

#include "extlib/records/prj_record.h"

namespace dovrane::fuzz {

inline void ExpectSameRecord(const extlib::PRJ& a, const extlib::PRJ& b, size_t member_bytes) {
  if (std::memcmp(a.name, b.name, sizeof a.name) != 0) std::abort();
  if (std::strcmp(a.host, b.host) != 0) std::abort();
  if (a.status != b.status || a.number != b.number || a.dbkey != b.dbkey || a.begin != b.begin ||
      a.owner != b.owner)
    std::abort();
  if (std::memcmp(a.members, b.members, member_bytes) != 0) std::abort();
}

}  // namespace dovrane::fuzz

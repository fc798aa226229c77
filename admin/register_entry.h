// Registration of one entry of a host's project folder (a project folder or
// a link file) as a record of the administration: the project's own stored
// record and identifier are taken over where they belong to this
// installation, the name is made unique, a free number is chosen and the
// folder renamed to it, and the record is appended.
#pragma once

#include <cstdint>
#include <string>

namespace dovrane::admin {

// An entry name of a host's project folder ending in ".prj" (any case).
struct EntryName {
  bool number_name = false;  // "n" or "N", seven digits, ".prj"
  uint32_t number = 0;
  std::string base;  // the name before ".prj"
};
// False when the name does not end in ".prj".
bool ParseEntryName(const std::string& name, EntryName* entry);

// 0 when registered or when nothing was to be done, non-zero on failure.
// console 0: no progress lines.
int RegisterProjectEntry(long console, bool is_file, const std::string& host, const std::string& entry);
// The same with the host's project folder (RegisterFolderOfHost) and the
// installation's identifier (get_PRJVekNetID, read when null) already known,
// for callers that register many entries.
int RegisterEntryInFolder(long console, bool is_file, const std::string& host, const std::string& dir,
                          const std::string& entry, const uint32_t* net_id = nullptr);

}  // namespace dovrane::admin

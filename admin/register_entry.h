// Registration of one entry of a host's project folder (a project folder or
// a link file) as a record of the administration: the project's own stored
// record and identifier are taken over where they belong to this
// installation, the name is made unique, a free number is chosen and the
// folder renamed to it, and the record is appended.
#pragma once

#include "admin/seen_project_info.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"

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

// 0 when registered or when nothing was to be done, non-zero on failure
// (also when the project folder cannot be put into its path slot).
// The progress lines go to the context's progress (none: no lines).
[[nodiscard]] int RegisterProjectEntry(extlib::OperationContext& ctx, bool is_file, const std::string& host,
                                       const std::string& entry);
class AppendBatch;
struct PrefetchedEntry;

// What the registrations of many entries of one host share, looked up once.
struct HostFolder {
  std::string dir;      // the host's project folder (FolderUse::kRegister)
  std::string native;   // its native path; "" to look each entry up
  int fd = -1;          // the open folder native names it, for short path walks; -1 none
  uint32_t net_id = 0;  // the installation's identifier (get_PRJVekNetID)
  AppendBatch* batch = nullptr;  // when set, plain appends go into it
  SeenProjectInfos* seen = nullptr;  // when set, collects the stored records read
  int slot = extlib::kSlotProjectData;  // the path slot the project folder is put into
};
// The same for callers that register many entries; native_entry is the
// entry's name as listed in folder.native ("" to look it up).
// ahead: the entry's stored record and disk cache as read ahead (may be null).
[[nodiscard]] int RegisterEntryInFolder(extlib::OperationContext& ctx, bool is_file, const std::string& host,
                                        const HostFolder& folder, const std::string& entry, const std::string& native_entry = "",
                          const PrefetchedEntry* ahead = nullptr);

}  // namespace dovrane::admin

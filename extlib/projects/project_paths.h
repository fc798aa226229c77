// Where a project lives: its entry in the host's project folder (a folder
// n%07u.prj, or a plain-named one, or a link file naming a folder elsewhere),
// the folder itself, and the files the library keeps beside it.
#pragma once

#include <cstdint>
#include <string>

#include "extlib/records/prj_record.h"
#include "extlib/projects/project_code.h"

namespace dovrane::extlib {

class OperationContext;

// The lock information file a CAD session holds locked while the project is open.
inline constexpr char kLockInfoFile[] = "project.lck";

// The host's project folder (Windows form, no trailing backslash): the local
// project folder (slot 31) for "localhost" or a single-workstation
// installation, else "\\HOST<data path>\Prj". 0, -19 unknown host, -2 no host list.
[[nodiscard]] int HostProjectFolder(OperationContext& ctx, const std::string& host, std::string* folder);
// The entry name of a record: "n%07u.prj", or for a record without number its
// name + ".prj". 0, or -8 when the name cannot be a folder name.
[[nodiscard]] int ProjectEntryName(const PRJ& record, std::string* entry);

// The entry path in the host's project folder (a folder or a link file),
// not checked on disk. 0 or the code of HostProjectFolder / ProjectEntryName.
[[nodiscard]] int build_prj_dir(OperationContext& ctx, const PRJ& record, std::string* path);
// The project folder, following a link file. 0 when it exists; -6 when it
// cannot be reached or the entry is a symbolic link (the path is still
// given); other codes as build_prj_dir.
[[nodiscard]] int make_prj_dir(OperationContext& ctx, const PRJ& record, std::string* dir);
// The folder of the named project in slot's administration; extra gets the
// status character. 0, -3 unknown project, -6 not reachable, or a list code.
[[nodiscard]] int ltpdirC(OperationContext& ctx, int slot, const std::string& name, std::string* dir, int* extra);
// What resolving a link answers: not project codes.
enum LinkResolution : int {
  kLinkResolved = 0,     // *path is a folder, or a link whose folder exists
  kLinkUnreachable = -1,  // the target cannot be reached
  kLinkInvalid = -2,      // empty, not absolute, or missing where its parent exists
  kLinkNothing = 1,       // nothing is there
  // A symbolic link as the entry: anyone who may write the share can leave
  // one, so it is no project folder (the link file is the project's link).
  kLinkSymbolic = -3,
};
// A link file holds the Windows path of the project folder on its first line;
// *path becomes that folder when it exists. A LinkResolution; native (if
// given) gets the folder's native path when resolved.
[[nodiscard]] int resolve_prj_link(OperationContext& ctx, std::string* path, std::string* native = nullptr);
// Writes a link file at link_path naming folder. 0 or kPrjFailed.
[[nodiscard]] int WriteProjectLink(extlib::OperationContext& ctx, const std::string& link_path,
                                   const std::string& folder);
// The lock information file of project `number`. Non-zero when a path is given.
[[nodiscard]] int get_lock_info_file(OperationContext& ctx, uint32_t number, std::string* path);
// True while a CAD session has the project open: another process holds a
// lock on the lock information file in its folder (Linux would delete or move
// the open files under it, where Windows refuses).
bool ProjectInUse(OperationContext& ctx, const PRJ& record);
// Non-zero for a private project: one that the administration does not know
// but whose folder "<name>.prj" lies in the local project folder (slot 31).
[[nodiscard]] int ltbispC(OperationContext& ctx, const std::string& name);

}  // namespace dovrane::extlib

// The operations of the file-access library on a project's own data (see
// project_data_file.h for the files): creation, reorganisation and renewal of
// the objects' unique identifiers. Each operation holds the project data lock
// (an exclusive lock on "objects.lck" in the project folder, waited for at most
// kProjectDataLockMs) around its read and rewrite. Damaged data gives an error
// and nothing is written. Failures are also shown as the library's own message.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "extlib/projects/uuid.h"

namespace dovrane::extlib {

class OperationContext;

inline constexpr char kProjectDataLockFile[] = "objects.lck";
inline constexpr int kProjectDataLockMs = 10000;

struct ReorganiseStats {
  size_t objects_dropped = 0;     // marked deleted
  size_t references_dropped = 0;  // to dropped or missing objects, or repeated
  bool index_was_stale = false;
};

// Initial data of a new project in an existing native folder: a project
// object, a drawing folder, layer "0" and a plan view. -EEXIST when the folder
// already holds an object file (nothing is replaced). 0 or -errno.
[[nodiscard]] int CreateProjectData(OperationContext& ctx, const std::string& native_project_dir);

// Reorganisation: drops objects marked deleted and every reference that no
// longer names a kept object (or repeats one), sorts the objects by type, name
// and identifier, rewrites the object file and rebuilds the index.
[[nodiscard]] int ReorganiseProjectData(OperationContext& ctx, const std::string& native_project_dir,
                                        ReorganiseStats* stats);
// A new identifier for every object; references follow their objects, a
// reference to a missing object is dropped. mapping (optional) gets old -> new.
[[nodiscard]] int RenewProjectUuids(OperationContext& ctx, const std::string& native_project_dir,
                                    std::map<Uuid, Uuid>* mapping);

// The same on the project folder of path slot `slot` (Windows form). 0 or negative.
[[nodiscard]] int kpvtad2(OperationContext& ctx, int slot);
[[nodiscard]] int ztbReplaceUUIDs(OperationContext& ctx, int slot);

// 0 when the attribute database of path slot 23 (the \Net\ folder) is ready:
// created with its tables and predefined attributes when missing.
[[nodiscard]] int InitTree(OperationContext& ctx);

}  // namespace dovrane::extlib

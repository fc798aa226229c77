// The network identifier of the installation and its copy in every project
// folder, which tells a later rebuild which administration a folder belongs to.
#pragma once

#include <cstdint>

#include "admin/seen_project_info.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"

namespace dovrane::admin {

// Makes sure the installation has an identifier (a new one on a network
// installation, 1 on a single workstation) and writes it into every project.
// 0 or -1. seen: stored records this run has just read (may be null).
[[nodiscard]] int EnsureNetId(extlib::OperationContext& ctx, const SeenProjectInfos* seen = nullptr);
// Writes id and each record into the folders of all projects that are not
// checked out, host by host; a host whose first project path cannot be built
// is skipped. A folder whose stored record is in seen as id and the record
// is not read again. 0, or -1 when there is no project list.
[[nodiscard]] int WriteNetIdToAllProjects(uint32_t id, extlib::OperationContext& ctx, const SeenProjectInfos* seen = nullptr);
// Writes id and record into the project's folder (path slot 19); warns on
// failure. A folder that already holds exactly this is left untouched. 0 or -1.
[[nodiscard]] int WriteNetIdToProject(extlib::OperationContext& ctx, const extlib::PRJ& record, uint32_t id);

}  // namespace dovrane::admin

#include "admin/net_id_writer.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "admin/host_folders.h"
#include "admin/project_index.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/net_id.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_info_file.h"
#include "extlib/projects/project_paths.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace {

constexpr int kWorkSlot = extlib::kSlotProjectWork;

std::string Folded(const char* text) {
  std::string s(text);
  for (char& c : s) c = static_cast<char>(platform::FoldCp1252(static_cast<unsigned char>(c)));
  return s;
}

// As WriteNetIdToProject, with the host folders looked up once per run.
int WriteOne(extlib::OperationContext& ctx, const extlib::PRJ& record, uint32_t id, EntryPaths* paths, int containers) {
  std::string dir, native;
  if (paths->Build(ctx, record, &dir) != 0 || extlib::resolve_prj_link(ctx, &dir, &native) != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make path to project <%s>\n", record.name);
    return kPrjFailed;
  }
  const bool slot_set = extlib::lfinipC(ctx, kWorkSlot, dir + "\\") == 0;
  uint32_t stored_id = 0;
  extlib::PRJ stored;
  // A folder whose stored record reads is accessible; only otherwise is it looked at.
  const int read = extlib::ReadProjectInfo(native, &stored_id, &stored);
  if (!slot_set || (read != 0 && extlib::ldirexC(ctx, kWorkSlot, 0) != 0)) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't access path to project:\n\t<%s>\n", record.name);
    return kPrjFailed;
  }
  if (read == 0 && stored_id == id &&
      extlib::FormatProjectInfo(id, stored, containers) == extlib::FormatProjectInfo(id, record, containers))
    return 0;
  if (extlib::WriteProjectInfo(native, id, record) != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't store PrjInfo for project:\n\t<%s>\n", record.name);
    return kPrjFailed;
  }
  return 0;
}

// Records whose fields are all equal format the same (and the test is cheap).
bool SameFields(const extlib::PRJ& a, const extlib::PRJ& b) {
  return std::memcmp(a.name, b.name, sizeof a.name) == 0 && std::strncmp(a.host, b.host, sizeof a.host) == 0 &&
         a.status == b.status && a.version == b.version && a.number == b.number && a.dbkey == b.dbkey &&
         a.begin == b.begin && a.owner == b.owner && std::memcmp(a.members, b.members, sizeof a.members) == 0;
}

}  // namespace

int WriteNetIdToProject(extlib::OperationContext& ctx, const extlib::PRJ& record, uint32_t id) {
  EntryPaths paths;
  return WriteOne(ctx, record, id, &paths, extlib::lzuGetCountOfUserContainers());
}

int WriteNetIdToAllProjects(uint32_t id, extlib::OperationContext& ctx, const SeenProjectInfos* seen) {
  ProjectIndex* index = CurrentIndex(ctx);
  if (!index) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make project list.\n");
    return kPrjFailed;
  }
  struct Item {
    std::string host;
    extlib::PRJ record;
  };
  std::vector<Item> items;
  items.reserve(index->LiveCount());
  for (const IndexedRecord& r : index->Records()) items.push_back({Folded(r.record.host), r.record});
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.host < b.host; });

  const std::string* current_host = nullptr;
  bool skip_host = false;
  EntryPaths paths;
  const int containers = extlib::lzuGetCountOfUserContainers();
  for (const Item& item : items) {
    if (ctx.Cancelled()) return extlib::kPrjInterrupted;  // between projects
    const extlib::PRJ& r = item.record;
    if (r.number == 0 || (r.status & (extlib::kStatusProjectOut | extlib::kStatusHostOut))) continue;
    if (!current_host || *current_host != item.host) {
      current_host = &item.host;
      std::string dir;
      skip_host = paths.Build(ctx, r, &dir) != 0;
      // A host whose project folder is not there now is skipped as a whole,
      // with one warning instead of one per project.
      if (!skip_host && extlib::lzcheck_path(ctx, extlib::ParentPath(dir)) != 1) {
        skip_host = true;
        services::ToolMessageBox(ctx, services::kMessageWarning, "Can't access path to projects on host <%s>\n",
                                 r.host);
      }
    }
    if (skip_host) continue;
    ctx.Print("\t<%s>\n", r.name);
    if (seen) {
      auto known = seen->find(r.number);
      if (known != seen->end() && known->second.net_id == id && known->second.host == r.host &&
          (SameFields(known->second.record, r) || extlib::FormatProjectInfo(id, known->second.record, containers) ==
                                                      extlib::FormatProjectInfo(id, r, containers)))
        continue;
    }
    WriteOne(ctx, r, id, &paths, containers);
  }
  ctx.Print("... finished\n");
  return 0;
}

int EnsureNetId(extlib::OperationContext& ctx, const SeenProjectInfos* seen) {
  uint32_t id = extlib::get_PRJVekNetID(ctx);
  if (id == 0) {
    id = extlib::lfnetg(ctx) ? extlib::NetID_Make() : 1;
    ctx.Print("VekNetID is not initialized -> new VekNetID is %x\n", id);
    if (extlib::NetID_Save(ctx, id) != 0) return kPrjFailed;
  }
  ctx.Print("Writing VekNetID to all projects ...\n");
  const int rc = WriteNetIdToAllProjects(id, ctx, seen);
  return rc == 0 || rc == kPrjInterrupted ? rc : kPrjFailed;
}

}  // namespace dovrane::admin

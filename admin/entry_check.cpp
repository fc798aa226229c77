#include "admin/entry_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "admin/checkout_file.h"
#include "admin/host_folders.h"
#include "admin/net_id_writer.h"
#include "admin/project_index.h"
#include "admin/project_version.h"
#include "admin/record_writes.h"
#include "extlib/records/administration.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/net_id.h"
#include "extlib/projects/operation_journal.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/projects/project_paths.h"
#include "extlib/installation/slot_files.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace {

using extlib::PRJ;
constexpr int kVersionSlot = extlib::kSlotProjectWork;

struct CheckRun {
  extlib::OperationContext* ctx = nullptr;
  bool host_scoped = false;  // CheckHostEntries
  EntryPaths paths;
  Reachability reach;
};

// The folder's project version; false when there is none > 0.
bool ReadFolderVersion(extlib::OperationContext& ctx, const std::string& dir, int* version) {
  int value = 0;
  if (!ReadProjectVersion(ctx, kVersionSlot, dir, &value) || value <= 0) return false;
  *version = value;
  return true;
}

int Remove(extlib::OperationContext& ctx, const IndexedRecord& r) {
  int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting);
  return handle < 0 ? kPrjFailed : RemoveRecord(ctx, r.record, handle, r.slot);
}

void CheckRecord(CheckRun* run, const IndexedRecord& item) {
  PRJ r = item.record;
  extlib::OperationContext& ctx = *run->ctx;
  ctx.Print("\t<%s> on host <%s>\n", r.name, r.host);
  std::string path;
  if (run->paths.Build(ctx, r, &path) != 0) {
    ctx.Print("Can't build project path\n");
    return;
  }
  const std::string entry_path = path;
  int link = extlib::resolve_prj_link(ctx, &path);
  if (link == extlib::kLinkInvalid && !run->reach.LinkTargetReachable(ctx, entry_path)) link = extlib::kLinkUnreachable;
  if (link == extlib::kLinkInvalid) {
    bool deleted = ctx.Env().Unlink(ctx.Native(entry_path)) == 0;
    ctx.Print("Invalid link %sremoved\n\t<%s>\n", deleted ? "" : "can not be ", entry_path.c_str());
    if (deleted && Remove(ctx, item) == 0)
      ctx.Print("Project removed from administration\n\t<%s>\n", entry_path.c_str());
    return;
  }
  if (link == extlib::kLinkUnreachable) return;  // the linked folder cannot be reached now: nothing is known
  // A folder found by the link's look needs no second look.
  if (link != extlib::kLinkResolved && extlib::lzcheck_path(ctx, path) < 0) {
    const std::string parent = extlib::ParentPath(path);
    if (extlib::lzcheck_path(ctx, parent) != 1 || !run->reach.FolderReachable(ctx, parent)) {
      ctx.Print("Can't access path <%s>\n\t to project <%s>\n", parent.c_str(), r.name);
      return;
    }
    if (!run->host_scoped && r.status != ' ' && (r.status & extlib::kStatusHostOut)) {
      ctx.Print("\t\tproject is moved out.\n");
      return;
    }
    // A create writes its record before its folder goes into place: while its
    // journal is there (the create at work, or cut short and left to the
    // journal pass) the record is no orphan. Looked at before the folder
    // again, as the create puts the folder into place before it drops the journal.
    if (extlib::CreateJournalExists(ctx, extlib::LastComponent(entry_path)) || extlib::lzcheck_path(ctx, path) >= 0)
      return;
    // A file that stays names a project without a record: the next run removes it.
    if (run->host_scoped) (void)DeleteProjectCheckoutFile(ctx, entry_path);
    if (Remove(ctx, item) == 0) ctx.Print("\t\tdirectory doesn't exist -> project removed from administration.\n");
    return;
  }
  // A record of a project or host that is out is the laptop's until its
  // check-in, which compares it with the laptop's own: nothing is mended here.
  if (extlib::StatusFlags(r.status) & (extlib::kStatusProjectOut | extlib::kStatusHostOut))
    return;
  int version = 0;
  const bool folder_version = ReadFolderVersion(ctx, path, &version) && version <= 255;
  // Mended on the record as it is under its lock, which a check-out may have
  // marked since the list was read: that record is then left as it is.
  const auto mend = [&](PRJ* now) {
    if (extlib::StatusFlags(now->status) & (extlib::kStatusProjectOut | extlib::kStatusHostOut)) return false;
    bool changed = false;
    if (now->begin < 0) {
      now->begin = 0;
      changed = true;
    }
    if (folder_version && version != now->version) {
      now->version = static_cast<unsigned char>(version);
      changed = true;
    }
    return changed;
  };
  if (!mend(&r)) return;
  int handle = extlib::open_prj_info(ctx, extlib::kSlotNet, extlib::kOpenExisting);
  if (handle >= 0 && RewriteRecord(ctx, r, handle, item.slot, mend) == 0) {
    uint32_t id = extlib::get_PRJVekNetID(ctx);
    // A folder that cannot take it is reported there; the record stays right.
    if (id != 0) (void)WriteNetIdToProject(ctx, r, id);
  }
}

// Checks the numbered records that pass, one project after the other, as a
// counted run. Each record is checked whole before the person's cancel is
// looked at, so a stop leaves the administration whole: kPrjInterrupted.
template <typename Pass>
int CheckRecords(CheckRun* run, const std::vector<IndexedRecord>& records, Pass pass) {
  extlib::Progress* progress = run->ctx->progress();
  if (progress) progress->StartCounted(static_cast<double>(records.size()));
  for (const IndexedRecord& r : records) {
    if (run->ctx->Cancelled()) return extlib::kPrjInterrupted;
    if (r.record.number && pass(r)) CheckRecord(run, r);
    if (progress) progress->Advance(1);
  }
  if (progress) progress->Finish();
  return 0;
}

}  // namespace

int CheckValidEntries(extlib::OperationContext& ctx) {
  ctx.Print("Check project administration for valid entries ...\n");
  std::vector<extlib::HostEntry> hosts;
  if (extlib::GetHostList(ctx, &hosts) != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make host list.\n");
    return kPrjFailed;
  }
  std::unordered_set<std::string> known_hosts;
  for (const extlib::HostEntry& h : hosts) known_hosts.insert(h.name);
  ctx.Print("Search for hosts ...  %d found\n", static_cast<int>(hosts.size()));

  ProjectIndex* index = CurrentIndex(ctx);
  if (!index) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make project list.\n");
    return 0;
  }
  const std::vector<IndexedRecord> records = index->Records();
  ctx.Print("%d projects found\n", static_cast<int>(records.size()));
  if (extlib::lfnetg(ctx)) {
    std::unordered_set<std::string> warned;
    for (const IndexedRecord& r : records)
      if (r.record.number && !known_hosts.count(r.record.host) && warned.insert(r.record.host).second)
        services::ToolMessageBox(ctx, services::kMessageWarning, "Unkown host <%s> in project administration\n",
                                 r.record.host);
  }
  CheckRun run;
  run.ctx = &ctx;
  return CheckRecords(&run, records, [](const IndexedRecord&) { return true; });
}

int CheckHostEntries(extlib::OperationContext& ctx, const std::string& host) {
  ProjectIndex* index = CurrentIndex(ctx);
  if (!index) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make project list.\n");
    return kPrjFailed;
  }
  extlib::NoProgressLines no_lines(ctx);
  CheckRun run;
  run.ctx = &ctx;
  run.host_scoped = true;
  return CheckRecords(&run, index->Records(),
                      [&](const IndexedRecord& r) { return platform::EqualsIgnoreCaseCp1252(r.record.host, host); });
}

}  // namespace dovrane::admin

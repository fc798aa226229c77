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
#include "admin/record_writes.h"
#include "extlib/administration.h"
#include "extlib/hosts.h"
#include "extlib/library_init.h"
#include "extlib/net_id.h"
#include "extlib/project_code.h"
#include "extlib/project_paths.h"
#include "extlib/slot_files.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/console.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace {

using extlib::PRJ;
constexpr int kVersionSlot = extlib::kSlotProjectWork;

struct CheckRun {
  long console = 0;
  bool host_scoped = false;  // CheckHostEntries
  EntryPaths paths;
  Reachability reach;
};

// The first "%d" of the folder's version.txt; false when there is none > 0.
bool ReadFolderVersion(const std::string& dir, int* version) {
  if (extlib::lfinipC(kVersionSlot, dir + "\\") != 0) return false;
  FILE* f = extlib::lfilopC(kVersionSlot, "version.txt", "r");
  if (!f) return false;
  int value = 0;
  bool ok = std::fscanf(f, "%d", &value) == 1 && value > 0;
  extlib::lfilclC(f);
  if (ok) *version = value;
  return ok;
}

int Remove(const IndexedRecord& r) {
  int handle = extlib::open_prj_info(extlib::kSlotNet, extlib::kOpenExisting);
  return handle < 0 ? kPrjFailed : RemoveRecord(r.record, handle, r.slot);
}

void CheckRecord(CheckRun* run, const IndexedRecord& item) {
  PRJ r = item.record;
  const long console = run->console;
  services::lfConsoleWrite(console, "\t<%s> on host <%s>\n", r.name, r.host);
  std::string path;
  if (run->paths.Build(r, &path) != 0) {
    services::lfConsoleWrite(console, "Can't build project path\n");
    return;
  }
  const std::string entry_path = path;
  int link = extlib::resolve_prj_link(&path);
  if (link == extlib::kLinkInvalid && !run->reach.LinkTargetReachable(entry_path)) link = extlib::kLinkUnreachable;
  if (link == extlib::kLinkInvalid) {
    bool deleted = platform::CurrentEnv()->Unlink(platform::NativePath(entry_path)) == 0;
    services::lfConsoleWrite(console, "Invalid link %sremoved\n\t<%s>\n", deleted ? "" : "can not be ",
                             entry_path.c_str());
    if (deleted && Remove(item) == 0)
      services::lfConsoleWrite(console, "Project removed from administration\n\t<%s>\n", entry_path.c_str());
    return;
  }
  if (link == extlib::kLinkUnreachable) return;  // the linked folder cannot be reached now: nothing is known
  if (extlib::lzcheck_path(path) < 0) {
    const std::string parent = extlib::ParentPath(path);
    if (extlib::lzcheck_path(parent) != 1 || !run->reach.FolderReachable(parent)) {
      services::lfConsoleWrite(console, "Can't access path <%s>\n\t to project <%s>\n", parent.c_str(), r.name);
      return;
    }
    if (!run->host_scoped && r.status != ' ' && (r.status & extlib::kStatusHostOut)) {
      services::lfConsoleWrite(console, "\t\tproject is moved out.\n");
      return;
    }
    if (run->host_scoped) DeleteProjectCheckoutFile(entry_path);
    if (Remove(item) == 0)
      services::lfConsoleWrite(console, "\t\tdirectory doesn't exist -> project removed from administration.\n");
    return;
  }
  bool changed = false;
  if (r.begin < 0) {
    r.begin = 0;
    changed = true;
  }
  int version = 0;
  if (ReadFolderVersion(path, &version) && version != r.version && version <= 255) {
    r.version = static_cast<unsigned char>(version);
    changed = true;
  }
  if (!changed) return;
  int handle = extlib::open_prj_info(extlib::kSlotNet, extlib::kOpenExisting);
  if (handle >= 0 && RewriteRecord(r, handle, item.slot) == 0) {
    uint32_t id = extlib::get_PRJVekNetID();
    // A folder that cannot take it is reported there; the record stays right.
    if (id != 0) (void)WriteNetIdToProject(r, id);
  }
}

}  // namespace

int CheckValidEntries(long console) {
  services::lfConsoleWrite(console, "Check project administration for valid entries ...\n");
  char* hosts = nullptr;
  int host_count = 0;
  if (extlib::get_host_list(&hosts, &host_count, 17) != 0) {
    services::ToolMessageBox(services::kMessageWarning, "Can't make host list.\n");
    return kPrjFailed;
  }
  std::unordered_set<std::string> known_hosts;
  for (int i = 0; i < host_count; ++i) known_hosts.insert(hosts + i * 17);
  std::free(hosts);
  services::lfConsoleWrite(console, "Search for hosts ...  %d found\n", host_count);

  ProjectIndex* index = CurrentIndex();
  if (!index) {
    services::ToolMessageBox(services::kMessageWarning, "Can't make project list.\n");
    return 0;
  }
  const std::vector<IndexedRecord> records = index->Records();
  services::lfConsoleWrite(console, "%d projects found\n", static_cast<int>(records.size()));
  if (extlib::lfnetg()) {
    std::unordered_set<std::string> warned;
    for (const IndexedRecord& r : records)
      if (r.record.number && !known_hosts.count(r.record.host) && warned.insert(r.record.host).second)
        services::ToolMessageBox(services::kMessageWarning, "Unkown host <%s> in project administration\n",
                                 r.record.host);
  }
  CheckRun run;
  run.console = console;
  for (const IndexedRecord& r : records)
    if (r.record.number) CheckRecord(&run, r);
  return 0;
}

int CheckHostEntries(const std::string& host) {
  ProjectIndex* index = CurrentIndex();
  if (!index) {
    services::ToolMessageBox(services::kMessageWarning, "Can't make project list.\n");
    return kPrjFailed;
  }
  CheckRun run;
  run.host_scoped = true;
  for (const IndexedRecord& r : index->Records())
    if (r.record.number && platform::EqualsIgnoreCaseCp1252(r.record.host, host)) CheckRecord(&run, r);
  return 0;
}

}  // namespace dovrane::admin

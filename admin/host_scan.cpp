#include "admin/host_scan.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "admin/append_batch.h"
#include "admin/entry_prefetch.h"
#include "admin/host_folders.h"
#include "admin/project_index.h"
#include "admin/register_entry.h"
#include "extlib/installation/host_going_out.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/net_id.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace {

constexpr size_t kLongestEntryName = 54;

// The entries left for the next scan of the installation. One scan works on
// them at a time: it holds the mutex from listing to registering.
struct PendingLists {
  std::mutex mutex;
  std::vector<PendingEntry> fresh, elsewhere;
};

PendingLists& Pending(extlib::Installation& installation) { return installation.Part<PendingLists>(); }

// Registers from the end; an entry that fails stays in the list for the
// next scan, and the others are registered all the same. Returns whether
// every entry was registered.
// The host's project folder is looked up once per host and list. With a
// batch, the appends are written together (see AppendBatch) and the entries'
// stored records are read ahead (see EntryPrefetch).
bool Work(extlib::OperationContext& ctx, std::vector<PendingEntry>* list, AppendBatch* batch, SeenProjectInfos* seen) {
  std::map<std::string, HostFolder> folders;
  std::set<std::string> failed;  // warned about once
  const uint32_t net_id = extlib::get_PRJVekNetID(ctx);
  auto folder_of = [&](const std::string& host) -> HostFolder* {
    auto it = folders.find(host);
    if (it == folders.end()) {
      HostFolder folder;
      if (failed.count(host) || ProjectFolderOfHost(ctx, host, FolderUse::kRegister, &folder.dir) != 0) {
        failed.insert(host);
        return nullptr;
      }
      folder.native = ctx.Native(folder.dir);
      folder.fd = ctx.Env().Open(folder.native, O_RDONLY | O_DIRECTORY);
      folder.net_id = net_id;
      folder.batch = batch;
      folder.seen = seen;
      it = folders.emplace(host, folder).first;
    }
    return &it->second;
  };
  // A whole scan's list (one host) is read ahead in the order it is worked.
  std::unique_ptr<EntryPrefetch> prefetch;
  if (batch && !list->empty() &&
      std::all_of(list->begin(), list->end(), [&](const PendingEntry& e) { return e.host == list->front().host; })) {
    HostFolder* folder = folder_of(list->front().host);
    if (folder && folder->fd >= 0) {
      std::vector<std::string> names;
      names.reserve(list->size());
      for (auto e = list->rbegin(); e != list->rend(); ++e) names.push_back(e->is_file ? "" : e->native);
      prefetch = std::make_unique<EntryPrefetch>(ctx.Env(), folder->fd, std::move(names));
    }
  }
  std::vector<PendingEntry> left;
  for (size_t worked = 0; !list->empty(); ++worked) {
    if (ctx.Cancelled()) break;  // between projects: the rest stays for the next scan
    PendingEntry e = std::move(list->back());
    list->pop_back();
    HostFolder* folder = folder_of(e.host);
    const PrefetchedEntry* ahead = prefetch ? prefetch->Get(worked) : nullptr;
    if (!folder || RegisterEntryInFolder(ctx, e.is_file, e.host, *folder, e.entry, e.native, ahead) != 0)
      left.push_back(std::move(e));
  }
  list->insert(list->end(), std::make_move_iterator(left.rbegin()), std::make_move_iterator(left.rend()));
  prefetch.reset();  // before the folders it reads below are closed
  for (auto& [host, folder] : folders)
    if (folder.fd >= 0) platform::CloseNothingPending(&ctx.Env(), folder.fd);
  return list->empty();
}

bool IsFileEntry(extlib::OperationContext& ctx, const std::string& folder, const platform::DirEntry& e) {
  if (e.type == platform::EntryType::kFile) return true;
  if (e.type == platform::EntryType::kDirectory) return false;
  platform::FileInfo info;  // unknown or a symbolic link: what it leads to
  return ctx.Env().Stat(folder + "/" + e.name, &info) == 0 && info.type != platform::EntryType::kDirectory;
}

std::string Folded(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(platform::FoldCp1252(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::vector<PendingEntry> PendingNew(extlib::Installation& installation) {
  PendingLists& p = Pending(installation);
  std::lock_guard<std::mutex> guard(p.mutex);
  return p.fresh;
}

std::vector<PendingEntry> PendingElsewhere(extlib::Installation& installation) {
  PendingLists& p = Pending(installation);
  std::lock_guard<std::mutex> guard(p.mutex);
  return p.elsewhere;
}

bool EntriesLeftUnregistered(extlib::Installation& installation) {
  PendingLists& p = Pending(installation);
  std::lock_guard<std::mutex> guard(p.mutex);
  return !p.fresh.empty() || !p.elsewhere.empty();
}

namespace {

// A folder entry under its name in the system's code page.
struct Listed {
  std::string name, key;
  const platform::DirEntry* entry;
};

// In name order (letter case aside), as the host's own file system lists them.
std::vector<Listed> InNameOrder(const std::vector<platform::DirEntry>& entries) {
  std::vector<Listed> names;
  names.reserve(entries.size());
  for (const platform::DirEntry& e : entries) {
    std::string name;
    if (!platform::Utf8ToCp1252(e.name, &name)) name = e.name;
    std::string key = Folded(name);
    names.push_back({std::move(name), std::move(key), &e});
  }
  std::sort(names.begin(), names.end(), [](const Listed& a, const Listed& b) { return a.key < b.key; });
  return names;
}

// *unregistered (may be null) counts the lists that a failure stopped.
int ScanHost(extlib::OperationContext& ctx, const std::string& host, int pass, AppendBatch* batch,
             SeenProjectInfos* seen, int* unregistered) {
  ProjectIndex* index = CurrentIndex(ctx);
  if (!index) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make project list.\n");
    return kPrjFailed;
  }
  // The batch's lock is not held while a host's folder is looked at (a slow share).
  if (batch) batch->Flush(ctx);
  std::string dir;
  if (ProjectFolderOfHost(ctx, host, FolderUse::kScan, &dir) != 0) return kPrjFailed;
  const std::string native = ctx.Native(dir);
  platform::FileInfo info;
  std::vector<platform::DirEntry> entries;
  if (ctx.Env().Stat(native, &info) != 0 || info.type != platform::EntryType::kDirectory ||
      ctx.Env().ListDir(native, &entries) != 0) {
    errno = ENOENT;
    return kPrjFailed;
  }
  const std::vector<Listed> names = InNameOrder(entries);

  PendingLists& pending = Pending(ctx.installation());
  std::lock_guard<std::mutex> guard(pending.mutex);
  std::vector<PendingEntry>& fresh = pending.fresh;
  std::vector<PendingEntry>& elsewhere = pending.elsewhere;
  for (const auto& [name, key, e] : names) {
    EntryName entry;
    if (!ParseEntryName(name, &entry)) continue;
    if (pass == 1 && !entry.number_name) continue;  // pass 1 lists "n???????.prj" only
    if (name.size() > kLongestEntryName) {
      services::ToolMessageBox(ctx, services::kMessageWarning, "Invalid project name <%s>.\n", name.c_str());
      continue;
    }
    if (entry.base.empty()) {
      services::ToolMessageBox(ctx, services::kMessageWarning, "Invalid project name <%s>.\n", name.c_str());
      continue;
    }
    // Only real folders and link files are projects of the host: a symbolic
    // link here may lead to another host's project or out of the installation,
    // and every later write to the project would go through it.
    platform::FileInfo own;
    if (e->type == platform::EntryType::kLink ||
        (e->type == platform::EntryType::kUnknown &&
         ctx.Env().Stat(native + "/" + e->name, &own, false) == 0 &&
         own.type == platform::EntryType::kLink)) {
      if (pass == 1 || !entry.number_name)
        services::ToolMessageBox(ctx, services::kMessageWarning, "%s",
                                 extlib::LanguageTextWith(extlib::kRepairTexts, 6, {name, host}).c_str());
      continue;
    }
    PendingEntry pending{name, host, IsFileEntry(ctx, native, *e), e->name};
    IndexedRecord known;
    if (entry.number_name) {
      if (!index->FindNumber(entry.number, &known))
        fresh.push_back(pending);
      else if (host != known.record.host || (known.record.status & extlib::kStatusPlainName))
        elsewhere.push_back(pending);
    } else {
      if (!index->FindName(entry.base, &known))
        fresh.push_back(pending);
      else if (host != known.record.host)
        elsewhere.push_back(pending);
    }
  }
  const bool fresh_done = Work(ctx, &fresh, batch, seen);
  const bool elsewhere_done = Work(ctx, &elsewhere, batch, seen);
  if (unregistered) *unregistered += !fresh_done + !elsewhere_done;
  return 0;
}

}  // namespace

int ScanHostProjects(extlib::OperationContext& ctx, const std::string& host, int pass) {
  return ScanHost(ctx, host, pass, nullptr, nullptr, nullptr);
}

int ScanAllHosts(extlib::OperationContext& ctx, SeenProjectInfos* seen) {
  std::vector<extlib::HostEntry> hosts;
  if (extlib::GetHostList(ctx, &hosts) != 0) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make host list.\n");
    return kPrjFailed;
  }
  ctx.Print("Search for hosts ...  %d found\n", static_cast<int>(hosts.size()));
  // One batch for all hosts: written when full or old enough, before each host's folder is listed, and at the end.
  AppendBatch batch;
  int unregistered = 0;
  if (extlib::Progress* progress = ctx.progress()) progress->StartCounted(2.0 * hosts.size());
  // A host that is out is the laptop's disk, numbered by the laptop's own
  // administration: its check-in brings its projects back, not a scan.
  std::set<std::string> out;
  for (const extlib::HostEntry& host : hosts)
    if (extlib::HostGoingOut(ctx, host.name)) {
      out.insert(host.name);
      ctx.Print("%s", extlib::LanguageTextWith(extlib::kRepairTexts, 40, {host.name}).c_str());
    }
  for (int pass = 1; pass <= 2; ++pass)
    for (const extlib::HostEntry& host : hosts) {
      if (ctx.Cancelled()) break;
      if (!out.count(host.name)) ScanHost(ctx, host.name, pass, &batch, seen, &unregistered);
      if (extlib::Progress* progress = ctx.progress()) progress->Advance(1);
    }
  batch.Flush(ctx);
  // Stopped by the person: what was registered is written, and the rebuild
  // stays marked as unfinished, so the next -update completes it.
  if (ctx.Cancelled()) return extlib::kPrjInterrupted;
  if (extlib::Progress* progress = ctx.progress()) progress->Finish();
  ctx.Print("... finished\n");
  // A folder left out (a full volume, a failed rename) was reported; the run
  // must not pass for a whole rebuild.
  if (batch.GivenUp() != 0) return kPrjFailed;
  return unregistered != 0 || EntriesLeftUnregistered(ctx.installation()) ? kEntriesLeftUnregistered : 0;
}

}  // namespace dovrane::admin

#include "admin/host_scan.h"

#include <cerrno>
#include <cstdlib>

#include <algorithm>
#include <map>

#include "admin/host_folders.h"
#include "admin/project_index.h"
#include "admin/register_entry.h"
#include "app/console.h"
#include "app/tool_message_box.h"
#include "extlib/hosts.h"
#include "extlib/net_id.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"

namespace dovrane::admin {

namespace {

constexpr size_t kLongestEntryName = 54;

std::vector<PendingEntry>& NewList() {
  static std::vector<PendingEntry> list;
  return list;
}

std::vector<PendingEntry>& ElsewhereList() {
  static std::vector<PendingEntry> list;
  return list;
}

// Registers from the end; the first failure stops the list and leaves the
// rest (the failed entry included) for the next scan.
// The host's project folder is looked up once per host and list.
void Work(long console, std::vector<PendingEntry>* list) {
  std::map<std::string, std::string> folders;
  const uint32_t net_id = extlib::get_PRJVekNetID();
  while (!list->empty()) {
    const PendingEntry& e = list->back();
    auto it = folders.find(e.host);
    if (it == folders.end()) {
      std::string dir;
      if (RegisterFolderOfHost(e.host, &dir) != 0) return;
      it = folders.emplace(e.host, dir).first;
    }
    if (RegisterEntryInFolder(console, e.is_file, e.host, it->second, e.entry, &net_id) != 0) return;
    list->pop_back();
  }
}

bool IsFileEntry(const std::string& folder, const platform::DirEntry& e) {
  if (e.type == platform::EntryType::kFile) return true;
  if (e.type == platform::EntryType::kDirectory) return false;
  platform::FileInfo info;  // unknown or a symbolic link: what it leads to
  return platform::CurrentEnv()->Stat(folder + "/" + e.name, &info) == 0 &&
         info.type != platform::EntryType::kDirectory;
}

std::string Folded(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(platform::FoldCp1252(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

const std::vector<PendingEntry>& PendingNew() { return NewList(); }
const std::vector<PendingEntry>& PendingElsewhere() { return ElsewhereList(); }

void ClearPendingEntries() {
  NewList().clear();
  ElsewhereList().clear();
}

int ScanHostProjects(long console, const std::string& host, int pass) {
  ProjectIndex* index = CurrentIndex();
  if (!index) {
    app::ToolMessageBox(app::kMessageWarning, "Can't make project list.\n");
    return -1;
  }
  std::string dir;
  if (ScanFolderOfHost(host, &dir) != 0) return -1;
  const std::string native = platform::NativePath(dir);
  platform::FileInfo info;
  std::vector<platform::DirEntry> entries;
  if (platform::CurrentEnv()->Stat(native, &info) != 0 || info.type != platform::EntryType::kDirectory ||
      platform::CurrentEnv()->ListDir(native, &entries) != 0) {
    errno = ENOENT;
    return -1;
  }
  // In name order (letter case aside), as the host's own file system lists them.
  std::vector<std::pair<std::string, const platform::DirEntry*>> names;
  for (const platform::DirEntry& e : entries) {
    std::string name;
    if (!platform::Utf8ToCp1252(e.name, &name)) name = e.name;
    names.emplace_back(name, &e);
  }
  std::sort(names.begin(), names.end(),
            [](const auto& a, const auto& b) { return Folded(a.first) < Folded(b.first); });

  std::vector<PendingEntry>& fresh = NewList();
  std::vector<PendingEntry>& elsewhere = ElsewhereList();
  for (const auto& [name, e] : names) {
    EntryName entry;
    if (!ParseEntryName(name, &entry)) continue;
    if (pass == 1 && !entry.number_name) continue;  // pass 1 lists "n???????.prj" only
    if (name.size() > kLongestEntryName) {
      app::ToolMessageBox(app::kMessageWarning, "Invalid project name <%s>.\n", name.c_str());
      continue;
    }
    if (entry.base.empty()) {
      app::ToolMessageBox(app::kMessageWarning, "Invalid project name <%s>.\n", name.c_str());
      continue;
    }
    PendingEntry pending{name, host, IsFileEntry(native, *e)};
    IndexedRecord known;
    if (entry.number_name) {
      if (!index->FindNumber(entry.number, &known))
        fresh.push_back(pending);
      else if (host != known.record.host || (known.record.status & 0x08))
        elsewhere.push_back(pending);
    } else {
      if (!index->FindName(entry.base, &known))
        fresh.push_back(pending);
      else if (host != known.record.host)
        elsewhere.push_back(pending);
    }
  }
  Work(console, &fresh);
  Work(console, &elsewhere);
  return 0;
}

int ScanAllHosts(long console) {
  char* list = nullptr;
  int count = 0;
  if (extlib::get_host_list(&list, &count, 17) != 0) {
    app::ToolMessageBox(app::kMessageWarning, "Can't make host list.\n");
    return -1;
  }
  std::vector<std::string> hosts;
  for (int i = 0; i < count; ++i) hosts.emplace_back(list + i * 17);
  std::free(list);
  app::lfConsoleWrite(console, "Search for hosts ...  %d found\n", count);
  for (int pass = 1; pass <= 2; ++pass)
    for (const std::string& host : hosts) ScanHostProjects(console, host, pass);
  app::lfConsoleWrite(console, "... finished\n");
  return 0;
}

}  // namespace dovrane::admin

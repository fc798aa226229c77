#include "admin/checkin_path.h"

#include <fcntl.h>

#include <vector>

#include "admin/host_folders.h"
#include "admin/project_index.h"
#include "admin/register_entry.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "platform/env.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

namespace {

constexpr size_t kMaxFullPath = 181;
constexpr char kCheckFile[] = "_check_";

// "/a/./b/../c" -> "/a/c" (the path is absolute).
std::string NormaliseNative(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

bool Exists(extlib::OperationContext& ctx, const std::string& path, bool* is_file) {
  platform::FileInfo info;
  if (ctx.Env().Stat(ctx.Native(path), &info) != 0) return false;
  *is_file = info.type != platform::EntryType::kDirectory;
  return true;
}

// Separator-aware parent and last component of a Windows or native path.
std::string Parent(const std::string& path) {
  return path.find('\\') != std::string::npos ? extlib::ParentPath(path) : path.substr(0, path.rfind('/'));
}
std::string Last(const std::string& path) {
  return path.find('\\') != std::string::npos ? extlib::LastComponent(path) : path.substr(path.rfind('/') + 1);
}

// The host of a network path "\\SERVER\share\...": the server, upper case.
bool HostFromPath(const std::string& path, std::string* host) {
  if (!platform::IsUncPath(path)) {
    *host = extlib::lzrnamC();
    return !host->empty();
  }
  size_t end = path.find('\\', 2);
  if (end == std::string::npos || end == 2 || end + 1 >= path.size()) return false;
  *host = path.substr(2, std::min<size_t>(end - 2, 16));
  for (char& c : *host) c = static_cast<char>(platform::UpperCp1252(static_cast<unsigned char>(c)));
  return true;
}

// Whether intern and extern name one folder: a file made in the one must
// appear in the other. For a link file its folder is compared instead.
bool SameFolder(extlib::OperationContext& ctx, std::string intern, std::string extern_path, bool is_file) {
  if (is_file) {
    intern = Parent(intern);
    extern_path = Parent(extern_path);
  }
  platform::Env* env = &ctx.Env();
  const std::string made = ctx.Native(intern) + "/" + kCheckFile;
  int fd = env->Open(made, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  platform::CloseNothingPending(env, fd);
  platform::FileInfo info;
  bool seen = env->Stat(ctx.Native(extern_path) + "/" + kCheckFile, &info) == 0;
  (void)env->Unlink(made);
  return seen;
}

}  // namespace

std::string AbsoluteCheckinPath(extlib::OperationContext& ctx, const std::string& path) {
  std::string p = path;
  if (!platform::IsUncPath(p) && !platform::IsDrivePath(p)) {
    if (p.empty()) return "";
    if (p[0] != '/') {
      std::string cwd;
      if (ctx.Env().GetCwd(&cwd) != 0) return "";
      p = cwd + "/" + p;
    }
    p = ctx.Windows(NormaliseNative(p));
  }
  while (p.size() > 3 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
  return p;
}

int CheckinProjectPath(extlib::OperationContext& ctx, const std::string& path) {
  if (path.empty()) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Not valid path\n");
    return 1;
  }
  const std::string full = AbsoluteCheckinPath(ctx, path);
  if (full.empty() || full.size() > kMaxFullPath) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Wrong path <%s>\n", path.c_str());
    return 1;
  }
  bool is_file = false;
  if (!Exists(ctx, full, &is_file)) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't access full path <%s>\n", full.c_str());
    return 1;
  }
  std::string host = "localhost", dir;
  if (extlib::lfnetg(ctx) && !HostFromPath(full, &host)) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can not obtain host from path\n%s\n", full.c_str());
    return 1;
  }
  if (ProjectFolderOfHost(ctx, host, FolderUse::kRegister, &dir) != 0) return 1;

  const std::string entry_name = Last(full);
  ProjectIndex* index = CurrentIndex(ctx);
  if (!index) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make project list.\n");
    return 1;
  }
  if (entry_name.empty()) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "It's not prj path <%s>\n", full.c_str());
    return 1;
  }
  EntryName entry;
  IndexedRecord known;
  const char* kExists = "Enty=<%s>\nProject %s allready exists.\nhost=%s nr=%d name=%s\n";
  if (!ParseEntryName(entry_name, &entry) || entry.base.empty() ||
      entry.base.size() > static_cast<size_t>(extlib::kNameLength)) {
    services::ToolMessageBox(ctx, services::kMessageWarning, "invalid project name <%s>.\n", entry_name.c_str());
    return 1;
  }
  if (entry.number_name ? index->FindNumber(entry.number, &known) : index->FindName(entry.base, &known)) {
    services::ToolMessageBox(ctx, services::kMessageWarning, kExists, entry_name.c_str(),
                             entry.number_name ? "number" : "name", known.record.host,
                             static_cast<int>(known.record.number), known.record.name);
    return 1;
  }
  const std::string intern = dir + "\\" + entry_name;
  if (!platform::EqualsIgnoreCaseCp1252(intern, full) && !SameFolder(ctx, intern, full, is_file)) {
    services::ToolMessageBox(ctx, services::kMessageWarning,
                             "Problem at checking path ocurred.\nIntern=%s\nExtern=%s\n", intern.c_str(), full.c_str());
    return 1;
  }
  extlib::NoProgressLines no_lines(ctx);
  return RegisterProjectEntry(ctx, is_file, host, entry_name);
}

}  // namespace dovrane::admin

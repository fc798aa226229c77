#include "network/host_registration.h"

#include <fcntl.h>
#include <strings.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "admin/administration_header.h"
#include "admin/entry_check.h"
#include "admin/host_scan.h"
#include "admin/shared_file_backup.h"
#include "app/projects/command_audit.h"
#include "extlib/installation/general.h"
#include "extlib/installation/host_list_lock.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "extlib/installation/slot_files.h"
#include "extlib/records/administration.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_layout.h"
#include "fileops/file_messages.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/system_names.h"
#include "platform/terminal.h"
#include "services/tool_message_box.h"
#include "services/ui_text_table.h"

namespace dovrane::network {

using platform::CurrentEnv;

namespace {

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// A data path as data.cfg keeps it: "" or "\a\b", never "/" or "..", no
// control characters (it becomes a file name below the UNC root).
bool ValidDataPath(const std::string& path) {
  if (path.empty()) return true;
  if (path[0] != '\\' || path.find("..") != std::string::npos || path.find('/') != std::string::npos ||
      path.find("\\\\") != std::string::npos)
    return false;
  for (unsigned char c : path)
    if (c < 32) return false;
  return true;
}

// The first field of a data.cfg line and the rest after it, split at the first
// blank, else at the first tab; a line with neither is a host without a path.
void SplitHostLine(const std::string& line, std::string* host, std::string* rest) {
  size_t cut = line.find(' ');
  if (cut == std::string::npos) cut = line.find('\t');
  *host = line.substr(0, cut);
  *rest = cut == std::string::npos ? "" : line.substr(cut + 1);
}

// The lines of a text without their line ends (LF or CR LF).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

// data.cfg's Windows and native paths; false when slot 23 is not set.
bool HostListPaths(extlib::OperationContext& ctx, std::string* windows, std::string* native) {
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kHostListFile, windows) != 0) return false;
  *native = ctx.Native(*windows);
  return !native->empty();
}

void ShowFileError(extlib::OperationContext& ctx, int kind, unsigned item, const std::string& path, int error) {
  services::ToolMessageBox(ctx, kind, "%s", fileops::FileErrorMessage(item, path, error).c_str());
}

// Native path of the marker below "\\HOST" + data path.
std::string MarkerPath(extlib::OperationContext& ctx, const std::string& host, const std::string& data_path) {
  std::string windows = "\\\\" + host + data_path + "\\" + kHostMarkerFile;
  return ctx.Native(windows);
}

// Reads all of an open file from its start. 0 or -errno.
int ReadAll(extlib::OperationContext& ctx, int fd, std::string* contents) {
  contents->clear();
  char buf[1 << 16];
  for (int64_t offset = 0;;) {
    int64_t n = ctx.Env().PRead(fd, buf, sizeof buf, offset);
    if (n < 0) return static_cast<int>(n);
    if (n == 0) return 0;
    contents->append(buf, static_cast<size_t>(n));
    offset += n;
  }
}

// The audit line of a registration or removal.
void Audit(extlib::OperationContext& ctx, const char* command, const std::string& what, bool done) {
  app::AuditWindowCommand(ctx, command, {what}, done ? 0 : 1, done ? "" : "failed");
}

// A removal rewrites data.cfg and then project.dat: the set made before the
// first covers both, so the second step makes none of its own when it
// follows at once for the same host of the same installation.
constexpr int64_t kBackupCoversMs = 60 * 1000;
std::mutex g_removal_mutex;
std::string g_removal_host, g_removal_list;
int64_t g_removal_backup_ms = 0;

void NoteRemovalBackup(extlib::OperationContext& ctx, const std::string& host, const std::string& host_list) {
  std::lock_guard<std::mutex> lock(g_removal_mutex);
  g_removal_host = host;
  g_removal_list = host_list;
  g_removal_backup_ms = ctx.Env().MonotonicMs();
}

bool TakeRemovalBackup(extlib::OperationContext& ctx, const std::string& host) {
  std::string windows, native;
  if (!HostListPaths(ctx, &windows, &native)) return false;
  std::lock_guard<std::mutex> lock(g_removal_mutex);
  const bool covered = !g_removal_host.empty() && SameName(g_removal_host, host) && g_removal_list == native &&
                       ctx.Env().MonotonicMs() - g_removal_backup_ms <= kBackupCoversMs;
  g_removal_host.clear();
  return covered;
}

// The shared files copied aside before a removal writes; false after the
// message (nothing may be written then).
bool BackUpBeforeRemoval(extlib::OperationContext& ctx) {
  const int rc = admin::BackupSharedFiles(ctx);
  if (rc == 0) return true;
  services::ToolMessageBox(ctx, services::kMessageError, "%s", admin::BackupFailedText(rc).c_str());
  return false;
}

}  // namespace

std::string HostMarker(const std::string& host) {
  char buf[64];
  snprintf(buf, sizeof buf, "%-*s@", extlib::layout::kHostWidth, host.c_str());
  return buf;
}

bool IsProjectLineOfHost(const std::string& line, const std::string& host) {
  namespace L = extlib::layout;
  if (host.empty() || host.size() > static_cast<size_t>(extlib::layout::kHostWidth)) return false;
  if (line.size() <= static_cast<size_t>(L::kV3HostEnd) || line[L::kV3HostEnd] != '@') return false;
  return strncasecmp(line.data() + L::kV3Host, HostMarker(host).c_str(), extlib::layout::kHostWidth) == 0;
}

namespace {

// The host list locked and read under the lock; false after the message.
bool LockHostList(extlib::OperationContext& ctx, extlib::HostListLock* lock, const std::string& windows,
                  const std::string& native, std::string* text) {
  const int rc = lock->Acquire(ctx, native, extlib::RecordLockTimeoutMs(), text);
  if (rc == 0) return true;
  // Busy: another workstation kept the list locked for the whole wait.
  ShowFileError(ctx, services::kMessageError, rc == -EBUSY ? 4 : 1, windows, rc);
  return false;
}

int AppendHostLine(extlib::OperationContext& ctx, const std::string& unc_path) {
  if (unc_path.size() < 3 || unc_path.compare(0, 2, "\\\\") != 0) return 0;
  const size_t cut = unc_path.find('\\', 2);
  const std::string host = unc_path.substr(2, cut == std::string::npos ? std::string::npos : cut - 2);
  std::string data_path = cut == std::string::npos ? "" : unc_path.substr(cut);
  while (!data_path.empty() && data_path.back() == '\\') data_path.pop_back();
  if (!extlib::IsValidHostName(host) || !ValidDataPath(data_path)) return 0;

  std::string windows, native, text;
  if (!HostListPaths(ctx, &windows, &native)) return 0;
  // Held until the new list is in place: read under it, so no other
  // workstation's line written meanwhile is lost.
  extlib::HostListLock lock;
  if (!LockHostList(ctx, &lock, windows, native, &text)) return 0;
  for (const std::string& line : Lines(text)) {
    std::string listed, listed_path;
    SplitHostLine(line, &listed, &listed_path);
    if (!SameName(listed, host)) continue;
    platform::Terminal::Beep();
    services::ToolMessageBox(ctx, services::kMessageError, "%s",
                             services::UiText(1015, 4124, listed_path.c_str()).c_str());
    return 0;
  }
  // A data.cfg written by host check-out ends without a line feed: the new
  // line must not join its last one.
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += data_path.empty() ? host : host + " " + data_path;
  text += '\n';
  const int rc = lock.Replace(text);
  if (rc < 0) {
    ShowFileError(ctx, services::kMessageError, 4, windows, rc);
    return 0;
  }
  return 1;
}

int DropHostLines(extlib::OperationContext& ctx, const std::string& host) {
  std::string windows, native, text;
  if (!HostListPaths(ctx, &windows, &native)) return 0;
  extlib::HostListLock lock;
  if (!LockHostList(ctx, &lock, windows, native, &text)) return 0;
  std::string kept;
  std::string data_path;
  bool found = false;
  for (const std::string& line : Lines(text)) {
    std::string listed, rest;
    SplitHostLine(line, &listed, &rest);
    if (listed.empty()) continue;  // empty lines go
    if (!SameName(listed, host)) {
      // A host without a data path is a line of its own and stays.
      kept += line + "\n";
      continue;
    }
    if (!found) data_path = rest;
    found = true;
  }
  if (found) {
    if (!BackUpBeforeRemoval(ctx)) return 0;
    const int rc = lock.Replace(kept);
    if (rc < 0) {
      ShowFileError(ctx, services::kMessageError, 4, windows, rc);
      return 0;
    }
  }
  lock.Release();
  while (!data_path.empty() && (data_path.back() == ' ' || data_path.back() == '\\')) data_path.pop_back();
  // The path comes from a shared file: only a valid one names a marker to delete.
  if (found && extlib::IsValidHostName(host) && ValidDataPath(data_path)) {
    const std::string marker = MarkerPath(ctx, host, data_path);
    platform::FileInfo info;
    if (!marker.empty() && ctx.Env().Stat(marker, &info, false) == 0 && info.type == platform::EntryType::kFile)
      (void)ctx.Env().Unlink(marker);
  }
  if (found) NoteRemovalBackup(ctx, host, native);
  return 1;
}

}  // namespace

int RegisterHostInDataCfg(extlib::OperationContext& ctx, const std::string& unc_path) {
  const int rc = AppendHostLine(ctx, unc_path);
  // A registration ends with the administration's part; only a refusal here ends it.
  if (rc != 1) Audit(ctx, "register host", unc_path, false);
  return rc;
}

int UnregisterHostInDataCfg(extlib::OperationContext& ctx, const std::string& host) {
  const int rc = DropHostLines(ctx, host);
  if (rc != 1) Audit(ctx, "remove host", host, false);
  return rc;
}

std::string AdministrationServerName(const platform::PathMap& paths) {
  std::string path;
  if (!extlib::GetSetupPath("Net", &path) || path.empty()) return "";
  if (!platform::IsUncPath(path) && platform::IsDrivePath(path)) {
    // A drive letter whose folder lies below the UNC root is a mapped network drive.
    const std::string folder = paths.DriveFolder(static_cast<char>(toupper(path[0])));
    const std::string as_windows = paths.ToWindows(folder);
    if (!platform::IsUncPath(as_windows)) return extlib::lzrnamC();
    path = as_windows;
  }
  if (!platform::IsUncPath(path)) return "";
  const size_t end = path.find('\\', 2);
  return path.substr(2, end == std::string::npos ? std::string::npos : end - 2);
}

int AddHostToAdministration(extlib::OperationContext& ctx, const std::string& path, const std::string& host) {
  if (host.size() < 3 || host.compare(0, 2, "\\\\") != 0) {
    Audit(ctx, "register host", host + path, false);
    return 0;
  }
  const std::string name = host.substr(2);
  std::string data_path = path;
  while (!data_path.empty() && data_path.front() == '\\') data_path.erase(0, 1);
  while (!data_path.empty() && data_path.back() == '\\') data_path.pop_back();
  if (!data_path.empty()) data_path = "\\" + data_path;
  if (!extlib::IsValidHostName(name) || !ValidDataPath(data_path)) {
    Audit(ctx, "register host", host + data_path, false);
    return 0;
  }

  UnCachPrjList(ctx);
  (void)admin::ScanHostProjects(ctx, name, 1);
  (void)admin::ScanHostProjects(ctx, name, 2);
  (void)admin::CheckHostEntries(ctx, name);

  const std::string server = AdministrationServerName(ctx.installation().Paths());
  const std::string marker = MarkerPath(ctx, name, data_path);
  if (!server.empty() && !marker.empty()) {
    // The host's projects are registered whatever becomes of the marker; a
    // marker that could not be written is said, not hidden.
    int rc = platform::WriteFileAtomic(marker, server);
    if (rc < 0) ShowFileError(ctx, services::kMessageWarning, 4, host + data_path + "\\" + kHostMarkerFile, rc);
  }
  Audit(ctx, "register host", host + data_path, true);
  return 1;
}

namespace {

int RemoveProjectLines(extlib::OperationContext& ctx, const std::string& host) {
  std::string windows;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kAdministrationFile, &windows) != 0) return 0;
  const std::string native = ctx.Native(windows);
  // Our own handle must not hold the old file open across the replacement.
  extlib::close_prj_info_handle(extlib::kSlotNet);
  admin::AdministrationHeader header;
  // The whole file locked: no workstation changes a record while it is copied.
  const int old_fd = admin::OpenAdministrationHeader(ctx, windows, admin::ShareMode::kDenyReadWrite, &header);
  if (old_fd < 0) {
    ShowFileError(ctx, services::kMessageError, 4, windows, old_fd == admin::kHeaderShareRefused ? -EBUSY : -ENOENT);
    return 0;
  }
  // Refused before the new file exists, so none is left behind.
  if (header.version != 3) {
    platform::CloseNothingPending(&ctx.Env(), old_fd);
    services::ToolMessageBox(ctx, services::kMessageError, "%s",
                             extlib::LanguageText(extlib::kCheckoutTexts, 8).c_str());
    return 0;
  }
  const std::string temp = native + ".new";
  std::string text;
  int rc = ReadAll(ctx, old_fd, &text);
  int new_fd = rc < 0 ? rc : ctx.Env().Open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (new_fd < 0) {
    platform::CloseNothingPending(&ctx.Env(), old_fd);
    ShowFileError(ctx, services::kMessageError, 4, windows, new_fd);
    return 0;
  }
  std::string out;
  out.reserve(text.size());
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(start, end - start);
    if (!IsProjectLineOfHost(line, host)) out += line;  // every other line byte for byte
    start = end;
  }
  int64_t w = ctx.Env().Write(new_fd, out.data(), out.size());
  rc = w < 0 ? static_cast<int>(w) : 0;
  if (rc == 0) rc = ctx.Env().Sync(new_fd);
  const int rc_close = ctx.Env().Close(new_fd);
  if (rc == 0) rc = rc_close;
  if (rc == 0) rc = ctx.Env().Rename(temp, native);
  platform::CloseNothingPending(&ctx.Env(), old_fd);
  UnCachPrjList(ctx);
  if (rc < 0) {
    (void)ctx.Env().Unlink(temp);
    std::string first = extlib::LanguageText(1500098, 1);
    if (first.size() > 80) first.resize(80);
    services::ToolMessageBox(ctx, services::kMessageWarning, "%s (%s).\n\r%s", first.c_str(),
                             extlib::kAdministrationFile, extlib::LanguageText(2500482, 1).c_str());
    return 0;
  }
  platform::SyncDirectory(platform::DirName(native));
  return 1;
}

}  // namespace

int RemoveHostFromAdministration(extlib::OperationContext& ctx, const std::string& host) {
  // Without a backup of the shared files nothing is rewritten.
  const int rc = TakeRemovalBackup(ctx, host) || BackUpBeforeRemoval(ctx) ? RemoveProjectLines(ctx, host) : 0;
  Audit(ctx, "remove host", host, rc == 1);
  return rc;
}

}  // namespace dovrane::network

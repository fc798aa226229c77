#include "extlib/installation/hosts.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "extlib/installation/general.h"
#include "extlib/installation/host_list_lock.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/administration.h"
#include "extlib/records/prj_record.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/ping.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"

namespace dovrane::extlib {

namespace {

bool ValidDataPath(const std::string& path) {
  if (path.empty()) return true;
  if (path[0] != '\\' || path.find("..") != std::string::npos || path.find('/') != std::string::npos)
    return false;
  for (unsigned char c : path)
    if (c < 32) return false;
  return true;
}

}  // namespace

int ParseHostList(const std::string& text, std::vector<HostEntry>* hosts, int* bad_line) {
  hosts->clear();
  *bad_line = 0;
  int number = 0;
  for (const std::string& line : TextLines(text)) {
    ++number;
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    char sep = line.find('\t') != std::string::npos ? '\t' : ' ';
    size_t cut = line.find(sep);
    HostEntry e;
    e.name = line.substr(0, cut);
    e.data_path = cut == std::string::npos ? "" : line.substr(cut + 1);
    while (!e.data_path.empty() && (e.data_path.back() == ' ' || e.data_path.back() == '\\'))
      e.data_path.pop_back();
    if (!IsValidHostName(e.name) || !ValidDataPath(e.data_path)) {
      if (*bad_line == 0) *bad_line = number;
      continue;
    }
    hosts->push_back(e);
  }
  return 0;
}

std::string FormatHostList(const std::vector<HostEntry>& hosts) {
  std::string out;
  for (const HostEntry& h : hosts) out += h.data_path.empty() ? h.name + "\n" : h.name + " " + h.data_path + "\n";
  return out;
}

namespace {

// The host list is asked for once per record by long runs (conversion,
// rebuild): it is kept and read again only when the file changed. Other
// parts of the program append to data.cfg themselves, so every call compares.
struct HostListCache {
  std::mutex mutex;
  std::string path;
  int rc = kPrjAdminMissing;
  std::vector<HostEntry> hosts;
  platform::FileInfo info;
  int bad_line = 0;
  platform::FileInfo reported;  // the file whose unusable line was told
};

}  // namespace

int ReadHostList(OperationContext& ctx, std::vector<HostEntry>* hosts) {
  Installation& installation = ctx.installation();
  std::string path = installation.Slot(kSlotNet);
  if (path.empty()) return kPrjAdminMissing;
  path += kHostListFile;
  path += "|" + installation.Paths().UncRoot();  // the key names the folder itself
  HostListCache& cache = installation.Part<HostListCache>();
  std::string tell;
  int rc;
  {
    std::lock_guard<std::mutex> guard(cache.mutex);
    const std::string native = installation.Paths().ToNative(path.substr(0, path.find('|')));
    platform::FileInfo info;
    rc = installation.Env().Stat(native, &info) == 0 ? 0 : kPrjAdminMissing;
    if (rc == 0 && !(path == cache.path && cache.rc == 0 && platform::SameFileState(info, cache.info))) {
      std::string text;
      cache.hosts.clear();
      cache.bad_line = 0;
      rc = platform::ReadWholeFile(native, &text) != 0 ? kPrjFailed : ParseHostList(text, &cache.hosts, &cache.bad_line);
      // Told once for each version of the file.
      if (rc == 0 && cache.bad_line != 0 && !platform::SameFileState(info, cache.reported)) {
        cache.reported = info;
        tell = LanguageTextWith(kRepairTexts, 28, {path.substr(0, path.find('|')), std::to_string(cache.bad_line)});
      }
    } else if (rc == 0) {
      rc = cache.rc;
    }
    if (rc == kPrjAdminMissing) cache.hosts.clear();
    cache.path = path;
    cache.rc = rc;
    cache.info = info;
    *hosts = cache.hosts;
  }
  // Outside the cache's lock: whoever shows the message may read the hosts.
  if (!tell.empty()) LibraryMessage(ctx, 1, tell);
  return rc;
}

int WriteHostList(OperationContext& ctx, const std::vector<HostEntry>& hosts) {
  std::string path;
  if (lffnamC_new(ctx, kSlotNet, kHostListFile, &path)) return kPrjFailed;
  // Every writer of the list holds its lock (a missing list has no writer to
  // race with: it is made as it is).
  const std::string native = ctx.Native(path);
  HostListLock lock;
  std::string old_text;
  int rc = lock.Acquire(ctx, native, RecordLockTimeoutMs(), &old_text);
  if (rc == -ENOENT) rc = 0;
  const std::string text = FormatHostList(hosts);
  if (rc == 0) rc = lock.held() ? lock.Replace(text) : platform::WriteFileAtomic(native, text);
  rc = ProjectCodeFromErrno(rc);
  HostListCache& cache = ctx.installation().Part<HostListCache>();
  std::lock_guard<std::mutex> guard(cache.mutex);
  cache.path.clear();  // read again
  return rc;
}

int lfnetg(OperationContext& ctx) {
  std::vector<HostEntry> hosts;
  return ReadHostList(ctx, &hosts) != kPrjAdminMissing ? 1 : 0;
}

int GetHostList(OperationContext& ctx, std::vector<HostEntry>* hosts) {
  const int rc = ReadHostList(ctx, hosts);
  if (rc == kPrjAdminMissing) {  // no data.cfg: a single-workstation installation
    *hosts = {{"localhost", ""}};
    return 0;
  }
  if (rc == 0) return 0;
  hosts->clear();  // a damaged list gives no rows, not the ones before the bad line
  return kPrjFailed;
}

int get_host_list(OperationContext& ctx, char** list, int* count, int width) {
  *list = nullptr;
  *count = 0;
  std::vector<HostEntry> hosts;
  if (GetHostList(ctx, &hosts) != 0 || width < 2) return kPrjFailed;
  char* out = static_cast<char*>(std::calloc(hosts.size() ? hosts.size() : 1, static_cast<size_t>(width)));
  if (!out) return kPrjFailed;
  for (size_t i = 0; i < hosts.size(); ++i)
    std::strncpy(out + i * width, hosts[i].name.c_str(), static_cast<size_t>(width - 1));
  *list = out;
  *count = static_cast<int>(hosts.size());
  return 0;
}

int get_data_path(OperationContext& ctx, const std::string& host, std::string* data_path) {
  std::vector<HostEntry> hosts;
  int rc = ReadHostList(ctx, &hosts);
  if (rc) return rc == kPrjAdminMissing ? kPrjAdminMissing : kPrjFailed;
  for (const HostEntry& h : hosts)
    if (platform::EqualsIgnoreCaseCp1252(h.name, host)) {
      *data_path = h.data_path;
      return 0;
    }
  return kPrjUnknownComputer;
}

int get_host_path(OperationContext& ctx, const std::string& host, std::string* path) {
  return get_data_path(ctx, host, path) == 0 ? 0 : 1;
}

int lfBuildNetPath(const std::string& host, const std::string& data_path, std::string* path) {
  if (!IsValidHostName(host) || !ValidDataPath(data_path)) return kPrjFailed;
  *path = "\\\\" + host + data_path + "\\Prj";
  return 0;
}

int lfBuildNetPath_local(const std::string& host, const std::string& data_path, std::string* path) {
  return lfBuildNetPath(host, data_path, path);
}

namespace {
thread_local UnreachablePath t_unreachable;
}  // namespace

UnreachablePath LastUnreachablePath() { return t_unreachable; }

int lzcheck_path(OperationContext& ctx, const std::string& path) {
  t_unreachable = UnreachablePath();
  if (path.empty()) return kPathUnreachable;
  platform::FileInfo info;
  const int rc = ctx.Env().Stat(ctx.Native(path), &info);
  if (rc == 0) return info.type == platform::EntryType::kDirectory ? kPathFolder : kPathFile;
  std::string parent = ParentPath(path);
  const int parent_rc = parent.empty() || parent.size() <= 2 ? rc : ctx.Env().Stat(ctx.Native(parent), &info);
  if (parent_rc == 0) return kPathMissing;
  // The path itself when it failed for another reason than being missing
  // (a share that does not answer), else the parent's failure.
  t_unreachable = rc != -ENOENT || parent_rc == rc ? UnreachablePath{path, rc} : UnreachablePath{parent, parent_rc};
  return kPathUnreachable;
}

int CheckForRemoteNFSPath(OperationContext& ctx, const std::string& path) {
  std::string native = ctx.Native(path);
  std::string mounts;
  if (platform::ReadWholeFile("/proc/self/mounts", &mounts, 16 * platform::kSmallFileLimit) != 0) return 0;
  std::istringstream in(mounts);
  std::string line, best_type;
  size_t best = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string dev, point, type;
    fields >> dev >> point >> type;
    bool prefix = native.compare(0, point.size(), point) == 0 &&
                  (native.size() == point.size() || point == "/" || native[point.size()] == '/');
    if (prefix && point.size() >= best) {
      best = point.size();
      best_type = type;
    }
  }
  return best_type.rfind("nfs", 0) == 0 ? 1 : 0;
}

std::string lzrnamC() { return platform::ComputerName(); }

int IsHostCheckedOut(OperationContext& ctx, const std::string& host) {
  if (!IsValidHostName(host)) return 0;
  return lftypeC(ctx, 23, host + ".out", 0) == 0 ? 1 : 0;
}

int DisplayCheckoutInfo(OperationContext& ctx, const std::string& name) {
  std::string base = LastComponent(name);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && platform::EqualsIgnoreCaseCp1252(base.substr(dot), ".prj")) base.resize(dot);
  std::string path;
  if (base.empty() || lffnamC(ctx, 23, base + ".out", &path) != 0) return kPrjFailed;
  std::string text;
  if (platform::ReadWholeFile(ctx.Native(path), &text) != 0) return kPrjFailed;
  LibraryMessage(ctx, 2, text);
  return 0;
}

int _WSAInit() { return 0; }

int _ping(const std::string& host, int, int, int timeout_ms) { return platform::PingHost(host, timeout_ms); }

std::string _WSAGetErrorString(int code) { return platform::PingErrorText(code); }

}  // namespace dovrane::extlib

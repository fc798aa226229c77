#include "platform/path_map.h"

#include <arpa/inet.h>

#include <cctype>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/env.h"
#include "platform/name_lookup.h"
#include "platform/text_codec.h"

namespace dovrane::platform {

namespace {

std::string StripTrailingSlashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string Utf8Name(const std::string& cp1252) { return Cp1252ToUtf8(cp1252); }

// Splits the part after the root into components, dropping empty ones and ".".
std::vector<std::string> Components(const std::string& rest) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : rest) {
    if (c == '\\' || c == '/') {
      if (!cur.empty() && cur != ".") out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty() && cur != ".") out.push_back(cur);
  return out;
}

bool PathEqualsIgnoreCase(const std::string& utf8_a, const std::string& utf8_b) {
  std::string a, b;
  if (!Utf8ToCp1252(utf8_a, &a) || !Utf8ToCp1252(utf8_b, &b)) return utf8_a == utf8_b;
  return EqualsIgnoreCaseCp1252(a, b);
}

// A share found nowhere is looked for again after this long: it may be
// mounted while the program runs.
constexpr int64_t kNowhereKeptMs = 2000;
// The longest wait for a host name's address when a mount names its server by address.
constexpr int kAddressLookupMs = 500;

// The key of a share: both names in upper case, as an SMB server compares them.
std::string ShareKey(const std::string& host, const std::string& share) {
  std::string key;
  key.reserve(host.size() + share.size() + 1);
  for (char c : host) key.push_back(static_cast<char>(UpperCp1252(static_cast<unsigned char>(c))));
  key.push_back('\\');
  for (char c : share) key.push_back(static_cast<char>(UpperCp1252(static_cast<unsigned char>(c))));
  return key;
}

bool IsDirectory(Env* env, const std::string& path) {
  FileInfo info;
  return env->Stat(path, &info, true) == 0 && info.type == EntryType::kDirectory;
}

// The entry of folder dir whose name equals name (UTF-8) in any letter case.
std::string FindIgnoringCase(Env* env, const std::string& dir, const std::string& name) {
  std::vector<DirEntry> entries;
  if (env->ListDir(dir, &entries) != 0) return "";
  for (const DirEntry& e : entries) {
    if (PathEqualsIgnoreCase(e.name, name)) return e.name;
  }
  return "";
}

// Walks parts below the folder resolved, which exists: each component in its
// spelling on disk, the first missing one and the rest as written.
std::string ResolveBelow(std::string resolved, const std::vector<std::string>& parts) {
  Env* env = CurrentEnv();
  FileInfo info;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string candidate = resolved + "/" + parts[i];
    if (env->Stat(candidate, &info, false) == 0) {
      resolved = candidate;
      continue;
    }
    std::vector<DirEntry> entries;
    std::string dir = resolved.empty() ? "/" : resolved;
    bool found = false;
    if (env->ListDir(dir, &entries) == 0) {
      for (const DirEntry& e : entries) {
        if (PathEqualsIgnoreCase(e.name, parts[i])) {
          resolved += "/" + e.name;
          found = true;
          break;
        }
      }
    }
    if (!found) {
      // The rest does not exist: keep it as written (new names are created so).
      for (size_t k = i; k < parts.size(); ++k) resolved += "/" + parts[k];
      break;
    }
  }
  return resolved;
}

}  // namespace

struct PathMap::Shares {
  struct Decision {
    ShareLocation location;
    std::string host, share;  // as first asked (Windows-1252)
    int64_t decided_ms = 0;
  };
  std::mutex mutex;
  std::unordered_map<std::string, Decision> decisions;  // by ShareKey
  bool fixed = false;       // mounts set by a test
  bool have_mounts = false;
  int64_t mounts_read_ms = 0;
  std::vector<ShareMount> mounts;

  // REQUIRES: mutex. The mount table, the system's read again once it is old.
  const std::vector<ShareMount>& Mounts() {
    if (fixed) return mounts;
    const int64_t now = CurrentEnv()->MonotonicMs();
    if (!have_mounts || now - mounts_read_ms >= kNowhereKeptMs) {
      mounts = SystemShareMounts();
      have_mounts = true;
      mounts_read_ms = now;
    }
    return mounts;
  }
};

PathMap::PathMap() : shares_(std::make_unique<Shares>()) {}
PathMap::~PathMap() = default;
PathMap::PathMap(PathMap&&) noexcept = default;
PathMap& PathMap::operator=(PathMap&&) noexcept = default;

PathMap& PathMap::Instance() {
  static PathMap map = [] {
    PathMap m;
    std::string root = CurrentEnv()->GetEnv("DOVRANE_UNC_ROOT");
    if (!root.empty()) m.SetUncRoot(root);
    return m;
  }();
  return map;
}

void PathMap::SetUncRoot(const std::string& native_root) {
  unc_root_ = StripTrailingSlashes(native_root);
  std::lock_guard<std::mutex> guard(shares_->mutex);
  shares_->decisions.clear();
}

void PathMap::SetShareMounts(std::vector<ShareMount> mounts) {
  std::lock_guard<std::mutex> guard(shares_->mutex);
  shares_->fixed = true;
  shares_->mounts = std::move(mounts);
  shares_->decisions.clear();
}

void PathMap::UseSystemShareMounts() {
  std::lock_guard<std::mutex> guard(shares_->mutex);
  shares_->fixed = false;
  shares_->have_mounts = false;
  shares_->mounts.clear();
  shares_->decisions.clear();
}

ShareLocation PathMap::Decide(const std::string& host, const std::string& share) const {
  Env* env = CurrentEnv();
  ShareLocation location;
  const std::string h = Utf8Name(host), s = Utf8Name(share);
  location.folder = unc_root_ + "/" + h + "/" + s;
  // The exact names first: a stat reaches an automounter's folders, which a
  // listing does not show before they are used.
  if (IsDirectory(env, location.folder)) {
    location.how = ShareFound::kUncRoot;
    return location;
  }
  if (const std::string host_dir = FindIgnoringCase(env, unc_root_, h); !host_dir.empty()) {
    const std::string host_path = unc_root_ + "/" + host_dir;
    if (const std::string share_dir = FindIgnoringCase(env, host_path, s); !share_dir.empty()) {
      if (IsDirectory(env, host_path + "/" + share_dir)) {
        location.how = ShareFound::kUncRoot;
        location.folder = host_path + "/" + share_dir;
        return location;
      }
    }
  }
  std::vector<ShareMount> mounts;
  {
    std::lock_guard<std::mutex> guard(shares_->mutex);
    mounts = shares_->Mounts();
  }
  const ShareMount* mount = FindShareMount(mounts, host, share);
  if (!mount && !IsDottedAddress(host) && AnyMountByAddress(mounts)) {
    // The mount names its server by address: the host's address may be it.
    sockaddr_in address{};
    if (LookupIPv4(h, kAddressLookupMs, &address) == LookupResult::kFound) {
      char dotted[INET_ADDRSTRLEN] = {};
      if (inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted)) {
        mount = FindShareMount(mounts, dotted, share);
      }
    }
  }
  if (mount) {
    switch (mount->kind) {
      case MountKind::kCifs: location.how = ShareFound::kCifs; break;
      case MountKind::kGvfs: location.how = ShareFound::kGvfs; break;
      case MountKind::kFuse: location.how = ShareFound::kFuse; break;
    }
    location.folder = mount->mount_point;
  }
  return location;
}

ShareLocation PathMap::LocateShare(const std::string& host, const std::string& share) const {
  const std::string key = ShareKey(host, share);
  {
    std::lock_guard<std::mutex> guard(shares_->mutex);
    auto it = shares_->decisions.find(key);
    if (it != shares_->decisions.end() &&
        (it->second.location.how != ShareFound::kNowhere ||
         CurrentEnv()->MonotonicMs() - it->second.decided_ms < kNowhereKeptMs))
      return it->second.location;
  }
  // Decided without the lock: other threads' shares are not held up by this one's disk.
  ShareLocation location = Decide(host, share);
  std::lock_guard<std::mutex> guard(shares_->mutex);
  Shares::Decision& decision = shares_->decisions[key];
  if (decision.host.empty() || decision.location.how == ShareFound::kNowhere) {
    decision.location = location;
    decision.host = host;
    decision.share = share;
  }
  decision.decided_ms = CurrentEnv()->MonotonicMs();
  return decision.location;
}

const char* ShareFoundName(ShareFound how) {
  switch (how) {
    case ShareFound::kUncRoot: return "UNC root";
    case ShareFound::kCifs: return "CIFS mount";
    case ShareFound::kGvfs: return "GVfs";
    case ShareFound::kFuse: return "FUSE mount";
    case ShareFound::kNowhere: break;
  }
  return "not found";
}

void PathMap::SetDriveFolder(char letter, const std::string& native_folder) {
  char l = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (native_folder.empty())
    drives_.erase(l);
  else
    drives_[l] = StripTrailingSlashes(native_folder);
}

std::string PathMap::DriveFolder(char letter) const {
  auto it = drives_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  return it == drives_.end() ? "" : it->second;
}

bool IsUncPath(const std::string& path) {
  return path.size() > 2 && path[0] == '\\' && path[1] == '\\';
}

bool IsDrivePath(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::string PathMap::ToNativeLexical(const std::string& path) const {
  std::string base, rest;
  if (IsUncPath(path)) {
    base = unc_root_;
    rest = path.substr(2);
  } else if (IsDrivePath(path)) {
    base = DriveFolder(path[0]);
    if (base.empty()) return "";
    rest = path.substr(2);
  } else if (!path.empty() && path[0] == '/') {
    return path;
  } else {
    // Relative, or rooted on the current drive: spelling only changes.
    std::string out;
    for (char c : path) out.push_back(c == '\\' ? '/' : c);
    return Utf8Name(out);
  }
  std::string out = base;
  for (const std::string& c : Components(rest)) out += "/" + Utf8Name(c);
  if (out.empty()) out = "/";
  return out;
}

std::string PathMap::ToNative(const std::string& path) const {
  Env* env = CurrentEnv();
  FileInfo info;
  if (IsUncPath(path)) {
    std::vector<std::string> parts = Components(path.substr(2));
    if (parts.size() >= 2) {
      const ShareLocation share = LocateShare(parts[0], parts[1]);
      if (share.how != ShareFound::kNowhere) {
        std::string native = share.folder;
        for (size_t i = 2; i < parts.size(); ++i) {
          parts[i] = Utf8Name(parts[i]);
          native += "/" + parts[i];
        }
        if (parts.size() == 2 || env->Stat(native, &info, false) == 0) return native;  // one call
        return ResolveBelow(share.folder, std::vector<std::string>(parts.begin() + 2, parts.end()));
      }
    }
  }
  std::string lexical = ToNativeLexical(path);
  if (lexical.empty()) return lexical;
  if (env->Stat(lexical, &info, false) == 0) return lexical;  // exact spelling exists: one call

  // Resolve component by component below the fixed root part.
  std::string resolved;
  std::string rest;
  if (lexical[0] == '/') {
    resolved = "";
    rest = lexical.substr(1);
  } else {
    resolved = ".";
    rest = lexical;
  }
  resolved = ResolveBelow(resolved, Components(rest));
  if (resolved.empty()) resolved = "/";
  if (resolved.rfind("./", 0) == 0) resolved = resolved.substr(2);
  return resolved;
}

std::string PathMap::ToWindows(const std::string& path) const {
  if (path.empty() || path[0] != '/') return path;
  auto below = [&path](const std::string& root, std::string* rest) {
    if (root.empty() || path.compare(0, root.size(), root) != 0) return false;
    if (path.size() > root.size() && path[root.size()] != '/') return false;
    *rest = path.substr(root.size());
    return true;
  };
  auto to_windows_rest = [](const std::string& rest) {
    std::string out;
    for (char c : rest) out.push_back(c == '/' ? '\\' : c);
    std::string cp;
    return Utf8ToCp1252(out, &cp) ? cp : out;
  };
  std::string rest;
  if (below(unc_root_, &rest) && rest.size() > 1) return "\\" + to_windows_rest(rest);
  for (const auto& [letter, folder] : drives_) {
    if (below(folder, &rest)) {
      std::string w = to_windows_rest(rest);
      return std::string(1, letter) + ":" + (w.empty() ? "\\" : w);
    }
  }
  // Below a share's mount point: the deepest one, named as the share was
  // asked for where it was (the installation's spelling), else as mounted.
  std::lock_guard<std::mutex> guard(shares_->mutex);
  const ShareMount* best = nullptr;
  std::string best_rest;
  for (const ShareMount& m : shares_->Mounts()) {
    if (below(StripTrailingSlashes(m.mount_point), &rest) && (!best || m.mount_point.size() > best->mount_point.size())) {
      best = &m;
      best_rest = rest;
    }
  }
  if (!best) return path;
  std::string host, share;
  for (const auto& [key, decision] : shares_->decisions) {
    if (decision.location.how != ShareFound::kNowhere && decision.location.folder == best->mount_point) {
      host = decision.host;
      share = decision.share;
    }
  }
  if (host.empty() && (!Utf8ToCp1252(best->host, &host) || !Utf8ToCp1252(best->share, &share))) return path;
  return "\\\\" + host + "\\" + share + to_windows_rest(best_rest);
}

bool FindShareNowhere(const PathMap& map, const std::string& windows_path, ShareNowhere* nowhere) {
  if (!IsUncPath(windows_path)) return false;
  const std::vector<std::string> parts = Components(windows_path.substr(2));
  if (parts.size() < 2) return false;
  if (map.LocateShare(parts[0], parts[1]).how != ShareFound::kNowhere) return false;
  std::string commands;
  if (!Utf8ToCp1252(MountCommandsFor(parts[0], parts[1], map.UncRoot()), &commands)) return false;
  nowhere->share = "\\\\" + parts[0] + "\\" + parts[1];
  if (!Utf8ToCp1252(map.UncRoot(), &nowhere->root)) nowhere->root = map.UncRoot();
  nowhere->commands.clear();
  size_t begin = 0;
  while (begin < commands.size()) {
    size_t end = commands.find('\n', begin);
    if (end == std::string::npos) end = commands.size();
    nowhere->commands.push_back(commands.substr(begin, end - begin));
    begin = end + 1;
  }
  return true;
}

}  // namespace dovrane::platform

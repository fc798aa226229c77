#include "platform/share_mounts.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cctype>
#include <sstream>

#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/text_codec.h"

namespace dovrane::platform {

namespace {

constexpr uint64_t kMountInfoLimit = 4 << 20;

// mountinfo escapes blank, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// GVfs writes the values of a mount's name %-escaped (a blank is %20).
std::string UnescapePercent(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 && HexDigit(value[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2])));
      i += 2;
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

// "//HOST/share" (one trailing slash allowed); false for a folder inside a share.
bool WholeShare(const std::string& source, std::string* host, std::string* share) {
  if (source.size() < 5 || source.compare(0, 2, "//") != 0) return false;
  std::string rest = source.substr(2);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  const size_t slash = rest.find('/');
  if (slash == std::string::npos || slash == 0) return false;
  *host = rest.substr(0, slash);
  *share = rest.substr(slash + 1);
  return !share->empty() && share->find('/') == std::string::npos;
}

// "addr=10.0.0.5" among a CIFS mount's options.
std::string AddressOption(const std::string& options) {
  std::istringstream in(options);
  for (std::string option; std::getline(in, option, ',');) {
    if (option.rfind("addr=", 0) == 0) return option.substr(5);
  }
  return "";
}

// Whether a FUSE mount's options name user (or root) as the one who mounted it.
bool FuseMountedBy(const std::string& options, unsigned user) {
  std::istringstream in(options);
  for (std::string option; std::getline(in, option, ',');) {
    if (option.rfind("user_id=", 0) == 0) return option == "user_id=0" || option == "user_id=" + std::to_string(user);
  }
  return false;
}

// A mount's UTF-8 name against a Windows-1252 one, as an SMB server compares them.
bool SameName(const std::string& utf8, const std::string& cp1252) {
  std::string converted;
  if (!Utf8ToCp1252(utf8, &converted)) return false;
  return EqualsIgnoreCaseCp1252(converted, cp1252);
}

// A word for a shell: quoted unless it is plainly safe.
std::string ShellWord(const std::string& word) {
  bool plain = !word.empty();
  for (unsigned char c : word) {
    if (!(std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == ':' || c == '=' || c == ',' ||
          c >= 0x80))
      plain = false;
  }
  if (plain) return word;
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string UrlPart(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '$') {
      out.push_back(static_cast<char>(c));
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::vector<ShareMount> ParseMountInfo(const std::string& text, unsigned user) {
  std::vector<ShareMount> mounts;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;) fields.push_back(f);
    // id parent major:minor root mount-point options [optional...] - type source super-options
    if (fields.size() < 10) continue;
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 2 >= fields.size()) continue;
    const std::string& type = fields[dash + 1];
    const bool fuse = type == "fuse" || type.rfind("fuse.", 0) == 0;
    if (type != "cifs" && type != "smb3" && !fuse) continue;
    // A bind mount of a folder inside a mounted share has that folder as its
    // root: it is not the share.
    if (Unescape(fields[3]) != "/") continue;
    ShareMount mount;
    if (!WholeShare(Unescape(fields[dash + 2]), &mount.host, &mount.share)) continue;
    const std::string options = dash + 3 < fields.size() ? Unescape(fields[dash + 3]) : "";
    if (fuse && !FuseMountedBy(options, user)) continue;
    // "addr=" is the kernel client's; a FUSE file system's options are its own.
    if (!fuse) mount.address = AddressOption(options);
    mount.mount_point = Unescape(fields[4]);
    mount.kind = fuse ? MountKind::kFuse : MountKind::kCifs;
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

std::vector<ShareMount> GvfsShareMounts(const std::string& gvfs_dir, const std::vector<std::string>& names) {
  static const std::string kPrefix = "smb-share:";
  std::vector<ShareMount> mounts;
  for (const std::string& name : names) {
    if (name.compare(0, kPrefix.size(), kPrefix) != 0) continue;
    ShareMount mount;
    std::istringstream keys(name.substr(kPrefix.size()));
    for (std::string pair; std::getline(keys, pair, ',');) {
      const size_t eq = pair.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = pair.substr(0, eq), value = UnescapePercent(pair.substr(eq + 1));
      if (key == "server") mount.host = value;
      if (key == "share") mount.share = value;
    }
    if (mount.host.empty() || mount.share.empty() || mount.share.find('/') != std::string::npos) continue;
    mount.mount_point = gvfs_dir + "/" + name;
    mount.kind = MountKind::kGvfs;
    mounts.push_back(std::move(mount));
  }
  return mounts;
}

std::vector<ShareMount> SystemShareMounts() {
  Env* env = CurrentEnv();
  std::string table = env->GetEnv("DOVRANE_MOUNTINFO");
  if (table.empty()) table = "/proc/self/mountinfo";
  std::string text;
  std::vector<ShareMount> mounts;
  if (ReadWholeFile(table, &text, kMountInfoLimit) == 0) mounts = ParseMountInfo(text, getuid());
  std::string gvfs = env->GetEnv("DOVRANE_GVFS_DIR");
  if (gvfs.empty()) {
    std::string runtime = env->GetEnv("XDG_RUNTIME_DIR");
    if (runtime.empty()) runtime = "/run/user/" + std::to_string(getuid());
    gvfs = runtime + "/gvfs";
  }
  std::vector<DirEntry> entries;
  if (env->ListDir(gvfs, &entries) == 0) {
    std::vector<std::string> names;
    for (const DirEntry& e : entries) names.push_back(e.name);
    for (ShareMount& m : GvfsShareMounts(gvfs, names)) mounts.push_back(std::move(m));
  }
  return mounts;
}

bool IsDottedAddress(const std::string& host) {
  in_addr address;
  return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

const ShareMount* FindShareMount(const std::vector<ShareMount>& mounts, const std::string& host,
                                 const std::string& share) {
  for (const ShareMount& m : mounts) {
    if (SameName(m.host, host) && SameName(m.share, share)) return &m;
  }
  if (!IsDottedAddress(host)) return nullptr;
  for (const ShareMount& m : mounts) {
    if (m.address == host && SameName(m.share, share)) return &m;
  }
  return nullptr;
}

bool AnyMountByAddress(const std::vector<ShareMount>& mounts) {
  for (const ShareMount& m : mounts) {
    if (!m.address.empty() || IsDottedAddress(m.host)) return true;
  }
  return false;
}

std::string MountCommandsFor(const std::string& host, const std::string& share, const std::string& unc_root) {
  const std::string h = Cp1252ToUtf8(host), s = Cp1252ToUtf8(share);
  const std::string folder = ShellWord(unc_root + "/" + h + "/" + s);
  return "sudo mkdir -p " + folder + " && sudo mount -t cifs " + ShellWord("//" + h + "/" + s) + " " + folder +
         " -o username=$USER,uid=$(id -u),gid=$(id -g)\n" + "gio mount smb://" + UrlPart(h) + "/" + UrlPart(s);
}

const char* MountKindName(MountKind kind) {
  switch (kind) {
    case MountKind::kGvfs: return "GVfs";
    case MountKind::kFuse: return "FUSE mount";
    case MountKind::kCifs: break;
  }
  return "CIFS mount";
}

}  // namespace dovrane::platform

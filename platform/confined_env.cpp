#include "platform/confined_env.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace dovrane::platform {

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel's own limit

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return "";
  std::string out = real;
  std::free(real);
  return out;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool PlainName(const std::string& name) { return !name.empty() && name != "." && name != ".."; }

}  // namespace

ConfinedEnv::ConfinedEnv(Env* inner, const std::string& root) : inner_(inner), root_(RealPath(root)) {}

bool ConfinedEnv::Inside(const std::string& path, bool follow_last) const {
  if (root_.empty() || path.empty()) return false;
  std::string p = path;
  if (p[0] != '/') {
    std::string cwd;
    if (inner_->GetCwd(&cwd) != 0) return false;
    p = cwd + "/" + p;
  }
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  // Where a last component that is a link leads, hop by hop.
  for (int hop = 0; follow_last; ++hop) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    if (hop == kMaxLinkHops) return false;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(p.c_str(), target, sizeof target - 1);
    if (n <= 0) return false;
    const std::string text(target, static_cast<size_t>(n));
    p = text[0] == '/' ? text : ParentOf(p) + "/" + text;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
  }
  // The entry is its parent without links, and its own name. Parents that
  // do not exist yet (a folder chain about to be made) hold no link.
  std::string rest = NameOf(p), parent = ParentOf(p), real;
  if (!PlainName(rest)) {
    real = RealPath(p);
    rest.clear();
  } else {
    while ((real = RealPath(parent)).empty()) {
      if (errno != ENOENT || parent == "/" || !PlainName(NameOf(parent))) return false;
      rest = NameOf(parent) + "/" + rest;
      parent = ParentOf(parent);
    }
  }
  if (real.empty()) return false;
  const std::string resolved = rest.empty() ? real : (real == "/" ? "" : real) + "/" + rest;
  return resolved == root_ || resolved.compare(0, root_.size() + 1, root_ + "/") == 0;
}

bool ConfinedEnv::InsideAt(int dirfd, const std::string& name, bool follow_last) const {
  if (name.empty()) return false;
  if (name[0] == '/' || dirfd == AT_FDCWD) return Inside(name, follow_last);
  const std::string folder = RealPath("/proc/self/fd/" + std::to_string(dirfd));
  return !folder.empty() && Inside(folder + "/" + name, follow_last);
}

namespace {
bool Writes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0; }
}  // namespace

int ConfinedEnv::Open(const std::string& path, int flags, mode_t mode) {
  // O_NOFOLLOW opens no link: the entry itself is what counts then.
  if (Writes(flags) && !Inside(path, (flags & O_NOFOLLOW) == 0)) return -EROFS;
  return inner_->Open(path, flags, mode);
}

int ConfinedEnv::OpenAt(int dirfd, const std::string& name, int flags, mode_t mode) {
  if (Writes(flags) && !InsideAt(dirfd, name, (flags & O_NOFOLLOW) == 0)) return -EROFS;
  return inner_->OpenAt(dirfd, name, flags, mode);
}

int ConfinedEnv::Rename(const std::string& from, const std::string& to) {
  if (!Inside(from, false) || !Inside(to, false)) return -EROFS;
  return inner_->Rename(from, to);
}

int ConfinedEnv::RenameAt(int fromdir, const std::string& from, int todir, const std::string& to) {
  if (!InsideAt(fromdir, from, false) || !InsideAt(todir, to, false)) return -EROFS;
  return inner_->RenameAt(fromdir, from, todir, to);
}

int ConfinedEnv::Unlink(const std::string& path) {
  return Inside(path, false) ? inner_->Unlink(path) : -EROFS;
}

int ConfinedEnv::UnlinkAt(int dirfd, const std::string& name, bool directory) {
  return InsideAt(dirfd, name, false) ? inner_->UnlinkAt(dirfd, name, directory) : -EROFS;
}

int ConfinedEnv::MkDir(const std::string& path, mode_t mode) {
  return Inside(path, false) ? inner_->MkDir(path, mode) : -EROFS;
}

int ConfinedEnv::MkDirAt(int dirfd, const std::string& name, mode_t mode) {
  return InsideAt(dirfd, name, false) ? inner_->MkDirAt(dirfd, name, mode) : -EROFS;
}

int ConfinedEnv::RmDir(const std::string& path) { return Inside(path, false) ? inner_->RmDir(path) : -EROFS; }

int ConfinedEnv::Symlink(const std::string& target, const std::string& path) {
  return Inside(path, false) ? inner_->Symlink(target, path) : -EROFS;
}

int ConfinedEnv::SetTimes(const std::string& path, const FileTime& accessed, const FileTime& modified) {
  return Inside(path) ? inner_->SetTimes(path, accessed, modified) : -EROFS;
}

int ConfinedEnv::SetLinkTimes(const std::string& path, const FileTime& accessed, const FileTime& modified) {
  return Inside(path, false) ? inner_->SetLinkTimes(path, accessed, modified) : -EROFS;
}

int ConfinedEnv::Chmod(const std::string& path, mode_t mode) {
  return Inside(path) ? inner_->Chmod(path, mode) : -EROFS;
}

int ConfinedEnv::SetXattr(const std::string& path, const std::string& name, const std::string& value) {
  return Inside(path) ? inner_->SetXattr(path, name, value) : -EROFS;
}

int ConfinedEnv::RemoveXattr(const std::string& path, const std::string& name) {
  return Inside(path) ? inner_->RemoveXattr(path, name) : -EROFS;
}

}  // namespace dovrane::platform

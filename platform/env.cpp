#include "platform/env.h"

#include <atomic>

#include "platform/call_deadline.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace dovrane::platform {

namespace {

EntryType TypeFromMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryType::kFile;
  if (S_ISDIR(mode)) return EntryType::kDirectory;
  if (S_ISLNK(mode)) return EntryType::kLink;
  return EntryType::kOther;
}

EntryType TypeFromDirent(unsigned char t) {
  switch (t) {
    case DT_REG: return EntryType::kFile;
    case DT_DIR: return EntryType::kDirectory;
    case DT_LNK: return EntryType::kLink;
    case DT_UNKNOWN: return EntryType::kUnknown;
    default: return EntryType::kOther;
  }
}

int FillFromStatx(const struct statx& sx, FileInfo* info) {
  info->type = TypeFromMode(sx.stx_mode);
  info->size = sx.stx_size;
  info->mode = sx.stx_mode & 07777;
  info->accessed = {sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec};
  info->modified = {sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec};
  if (sx.stx_mask & STATX_BTIME)
    info->created = {sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec};
  else
    info->created = {sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec};
  info->device = (uint64_t(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  info->inode = sx.stx_ino;
  return 0;
}

int DoStatx(int dirfd, const char* path, int flags, FileInfo* info) {
  struct statx sx;
  if (statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return ErrnoResult();
  return FillFromStatx(sx, info);
}

int ListFromDir(DIR* dir, std::vector<DirEntry>* entries) {
  entries->clear();
  errno = 0;
  while (struct dirent* e = readdir(dir)) {
    const char* n = e->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    entries->push_back({n, TypeFromDirent(e->d_type)});
  }
  int rc = errno ? -errno : 0;
  closedir(dir);
  return rc;
}

timespec ToTimespec(const FileTime& t) { return {static_cast<time_t>(t.sec), static_cast<long>(t.nsec)}; }

}  // namespace

int ErrnoResult() {
  const int error = errno ? errno : EIO;
  NoteFailedCall(error);  // keeps errno
  return -error;
}

std::string ErrorName(int error) { return std::strerror(error < 0 ? -error : error); }

int Env::Open(const std::string& path, int flags, mode_t mode) {
  WatchedCall watch(path);
  int fd;
  do fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd < 0 ? ErrnoResult() : fd;
}

int Env::OpenAt(int dirfd, const std::string& name, int flags, mode_t mode) {
  WatchedCall watch(dirfd, name);
  int fd;
  do fd = ::openat(dirfd, name.c_str(), flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd < 0 ? ErrnoResult() : fd;
}

int64_t Env::Read(int fd, void* buf, size_t n) {
  WatchedCall watch(fd);
  ssize_t r;
  do r = ::read(fd, buf, n);
  while (r < 0 && errno == EINTR);
  return r < 0 ? ErrnoResult() : r;
}

int64_t Env::PRead(int fd, void* buf, size_t n, int64_t offset) {
  WatchedCall watch(fd);
  ssize_t r;
  do r = ::pread(fd, buf, n, offset);
  while (r < 0 && errno == EINTR);
  return r < 0 ? ErrnoResult() : r;
}

int64_t Env::Write(int fd, const void* buf, size_t n) {
  WatchedCall watch(fd);
  const char* p = static_cast<const char*>(buf);
  size_t left = n;
  while (left > 0) {
    ssize_t w = ::write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      return ErrnoResult();
    }
    if (w == 0) return -EIO;
    p += w;
    left -= static_cast<size_t>(w);
  }
  return static_cast<int64_t>(n);
}

int64_t Env::PWrite(int fd, const void* buf, size_t n, int64_t offset) {
  WatchedCall watch(fd);
  const char* p = static_cast<const char*>(buf);
  size_t left = n;
  while (left > 0) {
    ssize_t w = ::pwrite(fd, p, left, offset);
    if (w < 0) {
      if (errno == EINTR) continue;
      return ErrnoResult();
    }
    if (w == 0) return -EIO;
    p += w;
    offset += w;
    left -= static_cast<size_t>(w);
  }
  return static_cast<int64_t>(n);
}

int64_t Env::Seek(int fd, int64_t offset, int whence) {
  off_t r = ::lseek(fd, offset, whence);
  return r < 0 ? ErrnoResult() : r;
}

int64_t Env::CopyRange(int in, int out, size_t n) {
  WatchedCall watch(out);
  ssize_t r;
  do r = ::copy_file_range(in, nullptr, out, nullptr, n, 0);
  while (r < 0 && errno == EINTR);
  return r < 0 ? ErrnoResult() : r;
}

int Env::Sync(int fd) {
  WatchedCall watch(fd);
  int r;
  do r = ::fsync(fd);
  while (r < 0 && errno == EINTR);
  // Some file systems (and pipes) cannot sync; that is not a lost write.
  if (r < 0 && (errno == EINVAL || errno == EROFS)) return 0;
  return r < 0 ? ErrnoResult() : 0;
}

int Env::Truncate(int fd, int64_t size) {
  WatchedCall watch(fd);
  return ::ftruncate(fd, size) < 0 ? ErrnoResult() : 0;
}

int Env::Close(int fd) {
  WatchedCall watch(WatchedCall::Closing{}, fd);
  // A close interrupted on Linux has released the descriptor: do not retry.
  if (::close(fd) < 0 && errno != EINTR) return ErrnoResult();
  return 0;
}

int Env::Rename(const std::string& from, const std::string& to) {
  WatchedCall watch(from);
  return ::rename(from.c_str(), to.c_str()) < 0 ? ErrnoResult() : 0;
}

int Env::RenameAt(int fromdir, const std::string& from, int todir, const std::string& to) {
  WatchedCall watch(fromdir, from);
  return ::renameat(fromdir, from.c_str(), todir, to.c_str()) < 0 ? ErrnoResult() : 0;
}

int Env::Unlink(const std::string& path) {
  WatchedCall watch(path);
  return ::unlink(path.c_str()) < 0 ? ErrnoResult() : 0;
}

int Env::UnlinkAt(int dirfd, const std::string& name, bool directory) {
  WatchedCall watch(dirfd, name);
  return ::unlinkat(dirfd, name.c_str(), directory ? AT_REMOVEDIR : 0) < 0 ? ErrnoResult() : 0;
}

int Env::MkDir(const std::string& path, mode_t mode) {
  WatchedCall watch(path);
  return ::mkdir(path.c_str(), mode) < 0 ? ErrnoResult() : 0;
}

int Env::MkDirAt(int dirfd, const std::string& name, mode_t mode) {
  WatchedCall watch(dirfd, name);
  return ::mkdirat(dirfd, name.c_str(), mode) < 0 ? ErrnoResult() : 0;
}

int Env::RmDir(const std::string& path) {
  WatchedCall watch(path);
  return ::rmdir(path.c_str()) < 0 ? ErrnoResult() : 0;
}

int Env::Symlink(const std::string& target, const std::string& path) {
  WatchedCall watch(path);
  return ::symlink(target.c_str(), path.c_str()) < 0 ? ErrnoResult() : 0;
}

int Env::ReadLink(const std::string& path, std::string* target) {
  WatchedCall watch(path);
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0) return ErrnoResult();
    if (static_cast<size_t>(n) < buf.size()) {
      target->assign(buf.data(), static_cast<size_t>(n));
      return 0;
    }
    if (buf.size() >= (1u << 16)) return -ENAMETOOLONG;
    buf.resize(buf.size() * 4);
  }
}

int Env::Stat(const std::string& path, FileInfo* info, bool follow) {
  WatchedCall watch(path);
  return DoStatx(AT_FDCWD, path.c_str(), follow ? 0 : AT_SYMLINK_NOFOLLOW, info);
}

int Env::StatAt(int dirfd, const std::string& name, FileInfo* info, bool follow) {
  WatchedCall watch(dirfd, name);
  return DoStatx(dirfd, name.c_str(), follow ? 0 : AT_SYMLINK_NOFOLLOW, info);
}

int Env::FStat(int fd, FileInfo* info) {
  WatchedCall watch(fd);
  return DoStatx(fd, "", AT_EMPTY_PATH, info);
}

int Env::ListDir(const std::string& path, std::vector<DirEntry>* entries) {
  WatchedCall watch(path);
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return ErrnoResult();
  return ListFromDir(dir, entries);
}

int Env::ListDirFd(int dirfd, std::vector<DirEntry>* entries) {
  WatchedCall watch(dirfd);
  // fdopendir takes the descriptor over; keep the caller's.
  int copy = ::dup(dirfd);
  if (copy < 0) return ErrnoResult();
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    int rc = ErrnoResult();
    ::close(copy);
    return rc;
  }
  ::rewinddir(dir);
  return ListFromDir(dir, entries);
}

int Env::SetTimes(const std::string& path, const FileTime& accessed, const FileTime& modified) {
  WatchedCall watch(path);
  timespec ts[2] = {ToTimespec(accessed), ToTimespec(modified)};
  return ::utimensat(AT_FDCWD, path.c_str(), ts, 0) < 0 ? ErrnoResult() : 0;
}

int Env::SetLinkTimes(const std::string& path, const FileTime& accessed, const FileTime& modified) {
  WatchedCall watch(path);
  timespec ts[2] = {ToTimespec(accessed), ToTimespec(modified)};
  return ::utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW) < 0 ? ErrnoResult() : 0;
}

int Env::FSetTimes(int fd, const FileTime& accessed, const FileTime& modified) {
  WatchedCall watch(fd);
  timespec ts[2] = {ToTimespec(accessed), ToTimespec(modified)};
  return ::futimens(fd, ts) < 0 ? ErrnoResult() : 0;
}

int Env::Chmod(const std::string& path, mode_t mode) {
  WatchedCall watch(path);
  return ::chmod(path.c_str(), mode) < 0 ? ErrnoResult() : 0;
}

int Env::FChmod(int fd, mode_t mode) {
  WatchedCall watch(fd);
  return ::fchmod(fd, mode) < 0 ? ErrnoResult() : 0;
}

int Env::SetXattr(const std::string& path, const std::string& name, const std::string& value) {
  WatchedCall watch(path);
  return ::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) < 0 ? ErrnoResult() : 0;
}

int Env::GetXattr(const std::string& path, const std::string& name, std::string* value) {
  WatchedCall watch(path);
  char buf[256];
  ssize_t n = ::getxattr(path.c_str(), name.c_str(), buf, sizeof buf);
  if (n < 0) return ErrnoResult();
  value->assign(buf, static_cast<size_t>(n));
  return 0;
}

int Env::RemoveXattr(const std::string& path, const std::string& name) {
  WatchedCall watch(path);
  return ::removexattr(path.c_str(), name.c_str()) < 0 ? ErrnoResult() : 0;
}

int Env::DiskSpace(const std::string& path, uint64_t* free_bytes, uint64_t* total_bytes) {
  WatchedCall watch(path);
  struct statvfs vfs;
  if (::statvfs(path.c_str(), &vfs) < 0) return ErrnoResult();
  if (free_bytes) *free_bytes = uint64_t(vfs.f_bavail) * vfs.f_frsize;
  if (total_bytes) *total_bytes = uint64_t(vfs.f_blocks) * vfs.f_frsize;
  return 0;
}

int Env::TimeResolution(const std::string& path, int64_t* nanoseconds) {
  WatchedCall watch(path);
  struct statfs fs;
  if (::statfs(path.c_str(), &fs) < 0) return ErrnoResult();
  switch (static_cast<uint64_t>(fs.f_type) & 0xFFFFFFFFu) {
    case 0x4d44: *nanoseconds = 2'000'000'000; break;      // FAT (msdos, vfat)
    case 0x2011BAB0: *nanoseconds = 10'000'000; break;     // exFAT
    case 0x5346544e:                                       // NTFS
    case 0xFE534D42:                                       // SMB2/3
    case 0xFF534D42:                                       // CIFS
      *nanoseconds = 100;
      break;
    default: *nanoseconds = 1; break;
  }
  return 0;
}

int Env::IsMountPoint(const std::string& path, bool* mounted) {
  WatchedCall watch(path);
  struct statx self, parent;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &self) != 0) return ErrnoResult();
  std::string up = path + "/..";
  if (statx(AT_FDCWD, up.c_str(), 0, STATX_BASIC_STATS, &parent) != 0) return ErrnoResult();
  *mounted = self.stx_dev_major != parent.stx_dev_major || self.stx_dev_minor != parent.stx_dev_minor ||
             self.stx_ino == parent.stx_ino;
  return 0;
}

int Env::Lock(int fd, int64_t start, int64_t length, LockMode mode, int timeout_ms) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = mode == LockMode::kUnlock ? F_UNLCK : mode == LockMode::kShared ? F_RDLCK : F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  const int64_t deadline = MonotonicMs() + (timeout_ms > 0 ? timeout_ms : 0);
  // Never wait forever: a dead or stuck peer must not hang the tool.
  for (int delay = 1;; delay = delay < 50 ? delay * 2 : 50) {
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return ErrnoResult();
    if (mode == LockMode::kUnlock || MonotonicMs() >= deadline) return -EAGAIN;
    SleepMs(delay);
  }
}

int Env::TestLock(int fd, int64_t start, int64_t length, bool* locked) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  if (::fcntl(fd, F_OFD_GETLK, &fl) < 0) return ErrnoResult();
  *locked = fl.l_type != F_UNLCK;
  return 0;
}

int64_t Env::NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t Env::MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Env::SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string Env::GetEnv(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? v : "";
}

int Env::SetEnv(const std::string& name, const std::string& value) {
  return ::setenv(name.c_str(), value.c_str(), 1) < 0 ? ErrnoResult() : 0;
}

int Env::GetCwd(std::string* path) {
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return ErrnoResult();
  *path = buf;
  return 0;
}

int Env::ChDir(const std::string& path) { return ::chdir(path.c_str()) < 0 ? ErrnoResult() : 0; }

namespace {
Env g_posix_env;
// Read by threads left behind on a dead share while a test puts its own back.
std::atomic<Env*> g_current_env{&g_posix_env};
}  // namespace

Env* CurrentEnv() { return g_current_env; }

bool IsPosixEnv(const Env& env) { return &env == &g_posix_env; }

Env* SetCurrentEnv(Env* env) { return g_current_env.exchange(env ? env : &g_posix_env); }

void CloseNothingPending(Env* env, int fd) { (void)env->Close(fd); }

}  // namespace dovrane::platform

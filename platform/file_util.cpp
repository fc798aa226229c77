#include "platform/file_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/env.h"

namespace dovrane::platform {

EntryType TypeOfEntry(const std::string& dir, const DirEntry& entry) {
  if (entry.type != EntryType::kUnknown) return entry.type;
  FileInfo info;
  return CurrentEnv()->Stat(dir + "/" + entry.name, &info, false) == 0 ? info.type : EntryType::kUnknown;
}

int ReadWholeFile(const std::string& path, std::string* contents, uint64_t limit) {
  return ReadWholeFileAt(AT_FDCWD, path, contents, limit);
}

int OpenRegularFile(const std::string& path, int flags) { return OpenRegularFileAt(AT_FDCWD, path, flags); }

namespace {
// Opens only a regular file; its status is left in *info.
int OpenRegular(int dirfd, const std::string& name, int flags, FileInfo* info) {
  Env* env = CurrentEnv();
  // O_NONBLOCK: a FIFO opens at once (and is refused below); for a regular
  // file it changes nothing. A writer never opens a link in a shared folder
  // (what it points to is nobody's to write): -ELOOP.
  if ((flags & O_ACCMODE) != O_RDONLY || (flags & O_CREAT)) flags |= O_NOFOLLOW;
  int fd = env->OpenAt(dirfd, name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fd;
  int rc = env->FStat(fd, info);
  if (rc == 0 && info->type != EntryType::kFile) rc = info->type == EntryType::kDirectory ? -EISDIR : -EINVAL;
  if (rc != 0) {
    CloseNothingPending(env, fd);
    return rc;
  }
  return fd;
}
}  // namespace

int OpenRegularFileAt(int dirfd, const std::string& name, int flags) {
  FileInfo info;
  return OpenRegular(dirfd, name, flags, &info);
}

int ReadWholeFileAt(int dirfd, const std::string& name, std::string* contents, uint64_t limit) {
  Env* env = CurrentEnv();
  contents->clear();
  FileInfo info;
  int fd = OpenRegular(dirfd, name, O_RDONLY, &info);
  if (fd < 0) return fd;
  int rc = info.size > limit ? -EFBIG : 0;
  char buf[65536];
  while (rc == 0) {
    int64_t n = env->Read(fd, buf, sizeof buf);
    if (n < 0) rc = static_cast<int>(n);
    if (n <= 0) break;
    // The file may grow while it is read: the limit holds for what is read.
    if (contents->size() + static_cast<uint64_t>(n) > limit) rc = -EFBIG;
    else contents->append(buf, static_cast<size_t>(n));
    // All the file had when it was opened, in a read that was not full: no
    // second call only to be told the end (a repair reads two small files of
    // every project).
    if (rc == 0 && static_cast<size_t>(n) < sizeof buf && contents->size() == info.size) break;
  }
  int rc_close = env->Close(fd);
  if (rc == 0) rc = rc_close;
  if (rc != 0) contents->clear();
  return rc;
}

namespace {
// A lock of the whole file (length 0) reaches to any offset; a record's does not.
constexpr int64_t kPastAnyRecord = int64_t{1} << 62;
}  // namespace

int HoldOffWholeFileLock(int fd, int timeout_ms) {
  return CurrentEnv()->Lock(fd, kPastAnyRecord, 1, LockMode::kShared, timeout_ms);
}

void ReleaseWholeFileHold(int fd) { (void)CurrentEnv()->Lock(fd, kPastAnyRecord, 1, LockMode::kUnlock, 0); }

bool WaitForWholeFileLock(int fd, int timeout_ms) {
  Env* env = CurrentEnv();
  const bool free = env->Lock(fd, kPastAnyRecord, 1, LockMode::kShared, 0) == 0;
  if (free || env->Lock(fd, kPastAnyRecord, 1, LockMode::kShared, timeout_ms) == 0)
    (void)env->Lock(fd, kPastAnyRecord, 1, LockMode::kUnlock, 0);
  return !free;
}

bool IsFileAtPath(int fd, const std::string& path) {
  FileInfo open, named;
  return CurrentEnv()->FStat(fd, &open) == 0 && CurrentEnv()->Stat(path, &named) == 0 &&
         open.device == named.device && open.inode == named.inode;
}

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int SyncDirectory(const std::string& dir) {
  Env* env = CurrentEnv();
  int fd = env->Open(dir, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return fd;
  int rc = env->Sync(fd);
  int rc2 = env->Close(fd);
  return rc ? rc : rc2;
}

bool IsProcessWorkName(const std::string& name, const std::string& head) {
  return name.size() > head.size() && name.compare(0, head.size(), head) == 0 &&
         name.find_first_not_of("0123456789", head.size()) == std::string::npos;
}

int PathPresence(const std::string& path) {
  FileInfo info;
  const int rc = CurrentEnv()->Stat(path, &info, false);
  if (rc == 0) return 1;
  return rc == -ENOENT ? 0 : rc;
}

bool IsRegularFileNoFollow(const std::string& path) {
  FileInfo info;
  return CurrentEnv()->Stat(path, &info, false) == 0 && info.type == EntryType::kFile;
}

int WriteFileAtomic(const std::string& path, const std::string& contents) {
  Env* env = CurrentEnv();
  std::string temp = path + ".new~" + std::to_string(::getpid());
  FileInfo old;
  // The mode of a link is no file's; a link at the work name is not written
  // through (the rename below replaces a link at path, never writes into it).
  mode_t mode = env->Stat(path, &old, false) == 0 && old.type == EntryType::kFile ? old.mode : 0644;
  int fd = env->Open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, mode);
  if (fd < 0) return fd;
  int rc = 0;
  int64_t w = env->Write(fd, contents.data(), contents.size());
  if (w < 0) rc = static_cast<int>(w);
  if (rc == 0) rc = env->Sync(fd);
  int rc_close = env->Close(fd);
  if (rc == 0) rc = rc_close;
  if (rc == 0) rc = env->Rename(temp, path);
  if (rc != 0) {
    (void)env->Unlink(temp);
    return rc;
  }
  SyncDirectory(DirName(path));
  return 0;
}

int MakeDirectories(const std::string& path) {
  Env* env = CurrentEnv();
  if (path.empty()) return -ENOENT;
  FileInfo info;
  if (env->Stat(path, &info) == 0) return info.type == EntryType::kDirectory ? 0 : -ENOTDIR;
  std::string parent = DirName(path);
  if (parent != path && parent != "." && parent != "/") {
    int rc = MakeDirectories(parent);
    if (rc) return rc;
  }
  int rc = env->MkDir(path);
  return rc == -EEXIST ? 0 : rc;
}

bool HeldByOtherProcess(int fd) {
  bool locked = false;
  const int rc = CurrentEnv()->TestLock(fd, 0, 0, &locked);
  return rc == 0 ? locked : rc != -ENOLCK;
}

}  // namespace dovrane::platform

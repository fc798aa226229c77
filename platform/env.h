// The operating system as the rest of dovrane sees it: one small interface of
// file, directory, lock, clock and environment calls. Everything that touches
// the file system goes through the current Env, so a test can point it at a
// temporary installation or wrap it to fail one chosen call (FaultInjectionEnv).
//
// Contract: calls return >= 0 on success and -errno on failure; they never
// throw and never print. Interrupted calls are retried inside the Env.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace dovrane::platform {

enum class EntryType { kUnknown, kFile, kDirectory, kLink, kOther };

struct DirEntry {
  std::string name;
  EntryType type = EntryType::kUnknown;  // from the listing; kUnknown: ask Stat
};

// Time with nanoseconds, seconds since 1970.
struct FileTime {
  int64_t sec = 0;
  int64_t nsec = 0;
  bool operator==(const FileTime&) const = default;
  auto operator<=>(const FileTime&) const = default;
};

struct FileInfo {
  EntryType type = EntryType::kUnknown;
  uint64_t size = 0;
  FileTime created;   // birth time where the file system keeps it, else change time
  FileTime accessed;
  FileTime modified;
  mode_t mode = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
};

// The same file unchanged as far as a look can tell: the same file (device
// and inode), size and modification time. For files only ever replaced whole
// (written beside and renamed), a change is always another file.
inline bool SameFileState(const FileInfo& a, const FileInfo& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modified == b.modified;
}


enum class LockMode { kUnlock, kShared, kExclusive };

class Env {
 public:
  virtual ~Env() = default;

  // Files. Paths are native; the Windows form is mapped by PathMap first.
  [[nodiscard]] virtual int Open(const std::string& path, int flags, mode_t mode = 0644);
  [[nodiscard]] virtual int OpenAt(int dirfd, const std::string& name, int flags, mode_t mode = 0644);
  [[nodiscard]] virtual int64_t Read(int fd, void* buf, size_t n);
  [[nodiscard]] virtual int64_t PRead(int fd, void* buf, size_t n, int64_t offset);
  // Writes all n bytes (short writes are continued); returns n or -errno.
  [[nodiscard]] virtual int64_t Write(int fd, const void* buf, size_t n);
  [[nodiscard]] virtual int64_t PWrite(int fd, const void* buf, size_t n, int64_t offset);
  [[nodiscard]] virtual int64_t Seek(int fd, int64_t offset, int whence);
  // Copies up to n bytes from in's offset to out's inside the kernel
  // (copy_file_range), advancing both; returns the bytes copied (0 at the end
  // of in) or -errno. -EXDEV, -EINVAL, -ENOSYS or -EOPNOTSUPP: these two files
  // cannot be copied so; read and write instead.
  [[nodiscard]] virtual int64_t CopyRange(int in, int out, size_t n);
  [[nodiscard]] virtual int Sync(int fd);
  [[nodiscard]] virtual int Truncate(int fd, int64_t size);
  [[nodiscard]] virtual int Close(int fd);

  // Names.
  [[nodiscard]] virtual int Rename(const std::string& from, const std::string& to);
  [[nodiscard]] virtual int RenameAt(int fromdir, const std::string& from, int todir, const std::string& to);
  [[nodiscard]] virtual int Unlink(const std::string& path);
  [[nodiscard]] virtual int UnlinkAt(int dirfd, const std::string& name, bool directory);
  [[nodiscard]] virtual int MkDir(const std::string& path, mode_t mode = 0755);
  [[nodiscard]] virtual int MkDirAt(int dirfd, const std::string& name, mode_t mode = 0755);
  [[nodiscard]] virtual int RmDir(const std::string& path);
  [[nodiscard]] virtual int Symlink(const std::string& target, const std::string& path);
  // The text a symbolic link holds.
  [[nodiscard]] virtual int ReadLink(const std::string& path, std::string* target);

  // Status. follow=false describes a link itself.
  [[nodiscard]] virtual int Stat(const std::string& path, FileInfo* info, bool follow = true);
  [[nodiscard]] virtual int StatAt(int dirfd, const std::string& name, FileInfo* info, bool follow = false);
  [[nodiscard]] virtual int FStat(int fd, FileInfo* info);
  // Lists a directory without "." and "..".
  [[nodiscard]] virtual int ListDir(const std::string& path, std::vector<DirEntry>* entries);
  [[nodiscard]] virtual int ListDirFd(int dirfd, std::vector<DirEntry>* entries);

  // Times and attributes.
  [[nodiscard]] virtual int SetTimes(const std::string& path, const FileTime& accessed, const FileTime& modified);
  [[nodiscard]] virtual int FSetTimes(int fd, const FileTime& accessed, const FileTime& modified);
  // As SetTimes, on a symbolic link itself.
  [[nodiscard]] virtual int SetLinkTimes(const std::string& path, const FileTime& accessed, const FileTime& modified);
  [[nodiscard]] virtual int Chmod(const std::string& path, mode_t mode);
  [[nodiscard]] virtual int FChmod(int fd, mode_t mode);
  [[nodiscard]] virtual int SetXattr(const std::string& path, const std::string& name, const std::string& value);
  [[nodiscard]] virtual int GetXattr(const std::string& path, const std::string& name, std::string* value);
  [[nodiscard]] virtual int RemoveXattr(const std::string& path, const std::string& name);
  // Free and total bytes of the file system that holds path.
  [[nodiscard]] virtual int DiskSpace(const std::string& path, uint64_t* free_bytes, uint64_t* total_bytes);
  // How finely the file system that holds path keeps modification times, in
  // nanoseconds (FAT media: 2 s). 1 when the type does not tell otherwise.
  [[nodiscard]] virtual int TimeResolution(const std::string& path, int64_t* nanoseconds);
  // Non-zero device of path's file system differs from its parent's: a mount point.
  [[nodiscard]] virtual int IsMountPoint(const std::string& path, bool* mounted);

  // Byte-range locks on an open file description (OFD locks): seen by every other
  // open of the file, in this process or another. Waits at most timeout_ms.
  [[nodiscard]] virtual int Lock(int fd, int64_t start, int64_t length, LockMode mode, int timeout_ms);
  // Another description holds a conflicting lock on the range (true), or not.
  [[nodiscard]] virtual int TestLock(int fd, int64_t start, int64_t length, bool* locked);

  // Clock and environment.
  [[nodiscard]] virtual int64_t NowSeconds();
  [[nodiscard]] virtual int64_t MonotonicMs();
  virtual void SleepMs(int ms);
  [[nodiscard]] virtual std::string GetEnv(const std::string& name);
  [[nodiscard]] virtual int SetEnv(const std::string& name, const std::string& value);
  [[nodiscard]] virtual int GetCwd(std::string* path);
  [[nodiscard]] virtual int ChDir(const std::string& path);
};

// The Env every caller uses. Never null; the POSIX Env unless a test replaced it.
Env* CurrentEnv();
// Replaces the current Env (null restores the POSIX one); returns the previous.
// REQUIRES: no other thread uses the Env while it is replaced.
Env* SetCurrentEnv(Env* env);
// True for the POSIX Env, which keeps no state and may be used from several
// threads.
bool IsPosixEnv(const Env& env);

// Closes a descriptor whose close can lose nothing: a folder, a file only
// read or locked, a file whose writes were flushed or given up. A file
// written since its last flush is closed with Close, and its result handled
// (a share may report a failed write only there).
void CloseNothingPending(Env* env, int fd);

// errno as our error value (negative), in one place.
int ErrnoResult();

// Names an error value (negative errno) in plain words, for messages.
std::string ErrorName(int error);

}  // namespace dovrane::platform

#include "extlib/installation/host_list_lock.h"

#include <fcntl.h>

#include <cerrno>
#include <vector>

#include "extlib/installation/operation_context.h"
#include "platform/env.h"
#include "platform/file_util.h"

namespace dovrane::extlib {

namespace {

using platform::CurrentEnv;

// Every temporary beside the list; only the lock's holder may call this.
int RemoveTemporaries(OperationContext& ctx, const std::string& native_path) {
  const std::string dir = platform::DirName(native_path), list_name = platform::BaseName(native_path);
  std::vector<platform::DirEntry> entries;
  if (ctx.Env().ListDir(dir, &entries) != 0) return 0;
  int removed = 0;
  for (const platform::DirEntry& e : entries) {
    // "<list>.new~<digits>": the temporary of a crash-safe rewrite of the list.
    if (!platform::IsProcessWorkName(e.name, list_name + ".new~")) continue;
    // A link or folder named like one is nobody's temporary: it stays.
    const std::string path = dir + "/" + e.name;
    if (platform::IsRegularFileNoFollow(path) && ctx.Env().Unlink(path) == 0) ++removed;
  }
  return removed;
}

// Reads the open list from its start, at most the small-file limit.
int ReadLocked(OperationContext& ctx, int fd, std::string* text) {
  text->clear();
  char buf[1 << 16];
  for (int64_t offset = 0;;) {
    const int64_t n = ctx.Env().PRead(fd, buf, sizeof buf, offset);
    if (n < 0) return static_cast<int>(n);
    if (n == 0) return 0;
    text->append(buf, static_cast<size_t>(n));
    offset += n;
    if (static_cast<uint64_t>(offset) > platform::kSmallFileLimit) return -EFBIG;
  }
}

// Opens the list and locks it whole, again on the file in place when the one
// locked was replaced meanwhile. The descriptor or -errno.
int OpenLocked(OperationContext& ctx, const std::string& native_path, int timeout_ms) {
  platform::Env* env = &ctx.Env();
  const int64_t deadline = env->MonotonicMs() + (timeout_ms > 0 ? timeout_ms : 0);
  for (;;) {
    const int fd = platform::OpenRegularFile(native_path, O_RDWR);
    if (fd < 0) return fd;
    const int64_t left = deadline - env->MonotonicMs();
    if (env->Lock(fd, 0, 0, platform::LockMode::kExclusive, left > 0 ? static_cast<int>(left) : 0) != 0) {
      platform::CloseNothingPending(env, fd);
      return -EBUSY;
    }
    // Still the list: a writer that held the lock before may have renamed a
    // new list into place, and its lock is no guard of that one.
    if (platform::IsFileAtPath(fd, native_path)) return fd;
    platform::CloseNothingPending(env, fd);
    if (env->MonotonicMs() >= deadline) return -EBUSY;
  }
}

}  // namespace

HostListLock::~HostListLock() { Release(); }

int HostListLock::Acquire(OperationContext& ctx, const std::string& native_path, int timeout_ms, std::string* text) {
  Release();
  const int fd = OpenLocked(ctx, native_path, timeout_ms);
  if (fd < 0) return fd;
  fd_ = fd;
  env_ = &ctx.Env();
  path_ = native_path;
  if (const int rc = ReadLocked(ctx, fd_, text); rc != 0) {
    Release();
    return rc;
  }
  (void)RemoveTemporaries(ctx, path_);
  return 0;
}

int HostListLock::Replace(const std::string& text) {
  if (fd_ < 0) return -EBADF;
  return platform::WriteFileAtomic(path_, text);
}

void HostListLock::Release() {
  if (fd_ < 0) return;
  platform::CloseNothingPending(env_, fd_);  // the lock goes with the descriptor
  fd_ = -1;
  path_.clear();
}

int RemoveDeadHostListTemporaries(OperationContext& ctx, const std::string& native_path) {
  const std::string dir = platform::DirName(native_path), list_name = platform::BaseName(native_path);
  std::vector<platform::DirEntry> entries;
  if (ctx.Env().ListDir(dir, &entries) != 0) return 0;
  bool any = false;
  for (const platform::DirEntry& e : entries) any = any || platform::IsProcessWorkName(e.name, list_name + ".new~");
  if (!any) return 0;  // the usual case: no lock is taken
  const int fd = OpenLocked(ctx, native_path, kHostListTemporaryWaitMs);
  if (fd < 0) return 0;
  const int removed = RemoveTemporaries(ctx, native_path);
  platform::CloseNothingPending(&ctx.Env(), fd);
  return removed;
}

}  // namespace dovrane::extlib

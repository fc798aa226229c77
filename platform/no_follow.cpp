#include "platform/no_follow.h"

#include <fcntl.h>

#include <cerrno>
#include <vector>

#include "platform/env.h"

namespace dovrane::platform {

namespace {

int RemoveTree(int dirfd, const std::string& name, int depth) {
  Env* env = CurrentEnv();
  const int fd = OpenFolderNoFollow(dirfd, name);
  if (fd < 0) return fd;
  std::vector<DirEntry> entries;
  int rc = env->ListDirFd(fd, &entries);
  for (const DirEntry& e : entries) {
    EntryType type = e.type;
    if (type == EntryType::kUnknown) {
      FileInfo info;
      if (env->StatAt(fd, e.name, &info, false) == 0) type = info.type;
    }
    // A link, like a file, is one name: unlinkat removes the link itself.
    int removed = type == EntryType::kDirectory ? -EISDIR : env->UnlinkAt(fd, e.name, false);
    if (removed == -EISDIR) removed = depth < kMaxRemovalDepth ? RemoveTree(fd, e.name, depth + 1) : -ENOTEMPTY;
    if (removed != 0 && removed != -ENOENT && rc == 0) rc = removed;
  }
  CloseNothingPending(env, fd);
  // A link put in the folder's place meanwhile is no folder: rmdir refuses it.
  const int gone = env->UnlinkAt(dirfd, name, true);
  return rc != 0 ? rc : gone;
}

}  // namespace

int OpenFolderNoFollow(int dirfd, const std::string& name) {
  Env* env = CurrentEnv();
  const int fd = env->OpenAt(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd != -ENOTDIR && fd != -ELOOP) return fd;
  // O_DIRECTORY answers a link with -ENOTDIR; tell the two apart for the report.
  FileInfo info;
  return env->StatAt(dirfd, name, &info, false) == 0 && info.type == EntryType::kLink ? -ELOOP : -ENOTDIR;
}

bool IsSymbolicLink(const std::string& path, std::string* target) {
  Env* env = CurrentEnv();
  FileInfo info;
  if (env->Stat(path, &info, false) != 0 || info.type != EntryType::kLink) return false;
  if (target && env->ReadLink(path, target) != 0) target->clear();
  return true;
}

int FolderPathOf(int fd, std::string* path) {
  const int rc = CurrentEnv()->ReadLink("/proc/self/fd/" + std::to_string(fd), path);
  if (rc == 0 && (path->empty() || (*path)[0] != '/')) return -ENOENT;  // a folder no longer there
  return rc;
}

int RemoveTreeAt(int dirfd, const std::string& name) { return RemoveTree(dirfd, name, 0); }

}  // namespace dovrane::platform

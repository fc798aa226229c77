#include "platform/file_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/env.h"

namespace dovrane::platform {

int ReadWholeFile(const std::string& path, std::string* contents) { return ReadWholeFileAt(AT_FDCWD, path, contents); }

int ReadWholeFileAt(int dirfd, const std::string& name, std::string* contents) {
  Env* env = CurrentEnv();
  int fd = env->OpenAt(dirfd, name, O_RDONLY);
  if (fd < 0) return fd;
  contents->clear();
  char buf[65536];
  for (;;) {
    int64_t n = env->Read(fd, buf, sizeof buf);
    if (n < 0) {
      env->Close(fd);
      return static_cast<int>(n);
    }
    if (n == 0) break;
    contents->append(buf, static_cast<size_t>(n));
  }
  return env->Close(fd);
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

int WriteFileAtomic(const std::string& path, const std::string& contents) {
  Env* env = CurrentEnv();
  std::string temp = path + ".new~" + std::to_string(::getpid());
  FileInfo old;
  mode_t mode = env->Stat(path, &old) == 0 ? old.mode : 0644;
  int fd = env->Open(temp, O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0) return fd;
  int rc = 0;
  int64_t w = env->Write(fd, contents.data(), contents.size());
  if (w < 0) rc = static_cast<int>(w);
  if (rc == 0) rc = env->Sync(fd);
  int rc_close = env->Close(fd);
  if (rc == 0) rc = rc_close;
  if (rc == 0) rc = env->Rename(temp, path);
  if (rc != 0) {
    env->Unlink(temp);
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

}  // namespace dovrane::platform

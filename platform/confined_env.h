// An Env that writes only below one folder: every call that would create,
// change or remove something elsewhere fails with -EROFS, whatever symbolic
// links a path goes through. The preview of a repair runs on a copy of the
// installation with it, so no link left in a shared folder (or one an
// administrator made) leads the preview into the real installation.
// Reading is not restricted.
#pragma once

#include <string>
#include <vector>

#include "platform/env.h"

namespace dovrane::platform {

class ConfinedEnv : public Env {
 public:
  // inner does the work; root must exist.
  ConfinedEnv(Env* inner, const std::string& root);

  // True when path (absolute, or relative to the working folder) names
  // something inside the root once every link on the way is followed. With
  // follow_last, a last component that is a link counts by where it leads (a
  // dangling one too); without, the entry itself counts (a rename or an
  // unlink acts on the link, not on what it names).
  bool Inside(const std::string& path, bool follow_last = true) const;

  int Open(const std::string& path, int flags, mode_t mode = 0644) override;
  int OpenAt(int dirfd, const std::string& name, int flags, mode_t mode = 0644) override;
  int64_t Read(int fd, void* buf, size_t n) override { return inner_->Read(fd, buf, n); }
  int64_t PRead(int fd, void* buf, size_t n, int64_t offset) override { return inner_->PRead(fd, buf, n, offset); }
  int64_t Write(int fd, const void* buf, size_t n) override { return inner_->Write(fd, buf, n); }
  int64_t PWrite(int fd, const void* buf, size_t n, int64_t offset) override {
    return inner_->PWrite(fd, buf, n, offset);
  }
  int64_t Seek(int fd, int64_t offset, int whence) override { return inner_->Seek(fd, offset, whence); }
  int64_t CopyRange(int in, int out, size_t n) override { return inner_->CopyRange(in, out, n); }
  int Sync(int fd) override { return inner_->Sync(fd); }
  int Truncate(int fd, int64_t size) override { return inner_->Truncate(fd, size); }
  int Close(int fd) override { return inner_->Close(fd); }

  int Rename(const std::string& from, const std::string& to) override;
  int RenameAt(int fromdir, const std::string& from, int todir, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int UnlinkAt(int dirfd, const std::string& name, bool directory) override;
  int MkDir(const std::string& path, mode_t mode = 0755) override;
  int MkDirAt(int dirfd, const std::string& name, mode_t mode = 0755) override;
  int RmDir(const std::string& path) override;
  int Symlink(const std::string& target, const std::string& path) override;
  int ReadLink(const std::string& path, std::string* target) override { return inner_->ReadLink(path, target); }

  int Stat(const std::string& path, FileInfo* info, bool follow = true) override {
    return inner_->Stat(path, info, follow);
  }
  int StatAt(int dirfd, const std::string& name, FileInfo* info, bool follow = false) override {
    return inner_->StatAt(dirfd, name, info, follow);
  }
  int FStat(int fd, FileInfo* info) override { return inner_->FStat(fd, info); }
  int ListDir(const std::string& path, std::vector<DirEntry>* entries) override {
    return inner_->ListDir(path, entries);
  }
  int ListDirFd(int dirfd, std::vector<DirEntry>* entries) override { return inner_->ListDirFd(dirfd, entries); }

  int SetTimes(const std::string& path, const FileTime& accessed, const FileTime& modified) override;
  int FSetTimes(int fd, const FileTime& accessed, const FileTime& modified) override {
    return inner_->FSetTimes(fd, accessed, modified);
  }
  int SetLinkTimes(const std::string& path, const FileTime& accessed, const FileTime& modified) override;
  int Chmod(const std::string& path, mode_t mode) override;
  int FChmod(int fd, mode_t mode) override { return inner_->FChmod(fd, mode); }
  int SetXattr(const std::string& path, const std::string& name, const std::string& value) override;
  int GetXattr(const std::string& path, const std::string& name, std::string* value) override {
    return inner_->GetXattr(path, name, value);
  }
  int RemoveXattr(const std::string& path, const std::string& name) override;
  int DiskSpace(const std::string& path, uint64_t* free_bytes, uint64_t* total_bytes) override {
    return inner_->DiskSpace(path, free_bytes, total_bytes);
  }
  int TimeResolution(const std::string& path, int64_t* nanoseconds) override {
    return inner_->TimeResolution(path, nanoseconds);
  }
  int IsMountPoint(const std::string& path, bool* mounted) override { return inner_->IsMountPoint(path, mounted); }

  int Lock(int fd, int64_t start, int64_t length, LockMode mode, int timeout_ms) override {
    return inner_->Lock(fd, start, length, mode, timeout_ms);
  }
  int TestLock(int fd, int64_t start, int64_t length, bool* locked) override {
    return inner_->TestLock(fd, start, length, locked);
  }

  int64_t NowSeconds() override { return inner_->NowSeconds(); }
  int64_t MonotonicMs() override { return inner_->MonotonicMs(); }
  void SleepMs(int ms) override { inner_->SleepMs(ms); }
  std::string GetEnv(const std::string& name) override { return inner_->GetEnv(name); }
  int SetEnv(const std::string& name, const std::string& value) override { return inner_->SetEnv(name, value); }
  int GetCwd(std::string* path) override { return inner_->GetCwd(path); }
  int ChDir(const std::string& path) override { return inner_->ChDir(path); }

 private:
  bool InsideAt(int dirfd, const std::string& name, bool follow_last) const;

  Env* inner_;
  std::string root_;  // without links, without a trailing slash
};

}  // namespace dovrane::platform

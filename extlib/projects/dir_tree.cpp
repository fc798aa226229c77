#include "extlib/projects/dir_tree.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "extlib/installation/operation_context.h"
#include "platform/env.h"
#include "platform/file_util.h"

namespace dovrane::extlib {

using platform::CurrentEnv;
using platform::EntryType;

namespace {

// Copies one regular file with its mode and times. Opened without following
// a link and without blocking: the entry may have changed since the listing.
int CopyFile(OperationContext& ctx, const std::string& from, const std::string& to) {
  platform::Env* env = &ctx.Env();
  int in = env->Open(from, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return in;
  platform::FileInfo info;
  int rc = env->FStat(in, &info);
  if (rc == 0 && info.type != EntryType::kFile) rc = -EOPNOTSUPP;
  int out = rc == 0 ? env->Open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600) : rc;
  if (out < 0) {
    platform::CloseNothingPending(env, in);
    return out;
  }
  std::vector<char> buf(1 << 16);
  for (;;) {
    int64_t n = env->Read(in, buf.data(), buf.size());
    if (n <= 0) {
      if (n < 0) rc = static_cast<int>(n);
      break;
    }
    int64_t w = env->Write(out, buf.data(), static_cast<size_t>(n));
    if (w < 0) {
      rc = static_cast<int>(w);
      break;
    }
  }
  if (rc == 0) rc = env->FChmod(out, info.mode & 07777);
  if (rc == 0) rc = env->Sync(out);
  if (rc == 0) rc = env->FSetTimes(out, info.accessed, info.modified);
  int rc_close = env->Close(out);
  if (rc == 0) rc = rc_close;
  platform::CloseNothingPending(env, in);
  return rc;
}

// A symbolic link is copied as a link: the text it holds, never what it names.
int CopyLink(OperationContext& ctx, const std::string& from, const std::string& to) {
  platform::Env* env = &ctx.Env();
  std::string target;
  platform::FileInfo info;
  int rc = env->Stat(from, &info, false);
  if (rc == 0) rc = env->ReadLink(from, &target);
  if (rc == 0) rc = env->Symlink(target, to);
  if (rc == 0) rc = env->SetLinkTimes(to, info.accessed, info.modified);
  return rc;
}

int CopyTreeInner(OperationContext& ctx, const std::string& from, const std::string& to) {
  platform::Env* env = &ctx.Env();
  platform::FileInfo info;
  int rc = env->Stat(from, &info, false);
  if (rc == 0 && info.type != EntryType::kDirectory) rc = -ENOTDIR;
  if (rc == 0) rc = env->MkDir(to, 0700);
  if (rc) return rc;
  std::vector<platform::DirEntry> entries;
  rc = env->ListDir(from, &entries);
  for (size_t i = 0; rc == 0 && i < entries.size(); ++i) {
    const std::string src = from + "/" + entries[i].name, dst = to + "/" + entries[i].name;
    EntryType t = platform::TypeOfEntry(from, entries[i]);
    if (t == EntryType::kDirectory)
      rc = CopyTreeInner(ctx, src, dst);
    else if (t == EntryType::kFile)
      rc = CopyFile(ctx, src, dst);
    else if (t == EntryType::kLink)
      rc = CopyLink(ctx, src, dst);
    else
      rc = -EOPNOTSUPP;  // a pipe, socket or device is no part of a project to take along
  }
  // Mode and times last: the entries written above change the folder's times.
  if (rc == 0) rc = env->Chmod(to, info.mode & 07777);
  if (rc == 0) rc = env->SetTimes(to, info.accessed, info.modified);
  return rc;
}

// Both links hold the same text.
int CompareLinks(OperationContext& ctx, const std::string& a, const std::string& b) {
  std::string ta, tb;
  int rc = ctx.Env().ReadLink(a, &ta);
  if (rc == 0) rc = ctx.Env().ReadLink(b, &tb);
  return rc != 0 ? rc : ta == tb ? 0 : -EIO;
}

int CompareFiles(OperationContext& ctx, const std::string& a, const std::string& b) {
  platform::Env* env = &ctx.Env();
  int fa = env->Open(a, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fa < 0) return fa;
  int fb = env->Open(b, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fb < 0) {
    platform::CloseNothingPending(env, fa);
    return fb;
  }
  std::vector<char> ba(1 << 16), bb(1 << 16);
  int rc = 0;
  for (;;) {
    int64_t na = env->Read(fa, ba.data(), ba.size());
    int64_t nb = na < 0 ? 0 : env->Read(fb, bb.data(), static_cast<size_t>(na > 0 ? na : 1));
    if (na < 0 || nb < 0) {
      rc = static_cast<int>(na < 0 ? na : nb);
      break;
    }
    if (na != nb || std::equal(ba.begin(), ba.begin() + na, bb.begin()) == false) {
      rc = -EIO;
      break;
    }
    if (na == 0) break;
  }
  platform::CloseNothingPending(env, fa);
  platform::CloseNothingPending(env, fb);
  return rc;
}

}  // namespace

int TreeSize(OperationContext& ctx, const std::string& dir, uint64_t* bytes) {
  *bytes = 0;
  std::vector<platform::DirEntry> entries;
  int rc = ctx.Env().ListDir(dir, &entries);
  if (rc) return rc;
  for (const auto& e : entries) {
    const std::string path = dir + "/" + e.name;
    EntryType t = platform::TypeOfEntry(dir, e);
    if (t == EntryType::kDirectory) {
      uint64_t sub = 0;
      if ((rc = TreeSize(ctx, path, &sub)) != 0) return rc;
      *bytes += sub;
    } else if (t == EntryType::kFile) {
      platform::FileInfo info;
      if ((rc = ctx.Env().Stat(path, &info, false)) != 0) return rc;
      *bytes += info.size;
    }
  }
  return 0;
}

int CopyTree(OperationContext& ctx, const std::string& from, const std::string& to) {
  int rc = CopyTreeInner(ctx, from, to);
  if (rc && rc != -EEXIST) (void)RemoveTree(ctx, to);  // the copy's own failure is the answer
  return rc;
}

int VerifyTree(OperationContext& ctx, const std::string& a, const std::string& b) {
  std::vector<platform::DirEntry> entries;
  int rc = ctx.Env().ListDir(a, &entries);
  for (size_t i = 0; rc == 0 && i < entries.size(); ++i) {
    EntryType t = platform::TypeOfEntry(a, entries[i]);
    const std::string pa = a + "/" + entries[i].name, pb = b + "/" + entries[i].name;
    platform::FileInfo copy;
    rc = ctx.Env().Stat(pb, &copy, false);
    if (rc == 0 && copy.type != t) rc = -EIO;
    if (rc != 0) break;
    if (t == EntryType::kDirectory)
      rc = VerifyTree(ctx, pa, pb);
    else if (t == EntryType::kFile)
      rc = CompareFiles(ctx, pa, pb);
    else if (t == EntryType::kLink)
      rc = CompareLinks(ctx, pa, pb);
    else
      rc = -EOPNOTSUPP;
  }
  return rc;
}

int RemoveTree(OperationContext& ctx, const std::string& dir) {
  platform::Env* env = &ctx.Env();
  platform::FileInfo info;
  // Only a folder that is not there is removed already; one that cannot be
  // looked at (a share that stopped answering) is not.
  if (const int rc = env->Stat(dir, &info, false); rc != 0) return rc == -ENOENT ? 0 : rc;
  if (info.type != EntryType::kDirectory) return env->Unlink(dir);
  std::vector<platform::DirEntry> entries;
  int rc = env->ListDir(dir, &entries);
  for (size_t i = 0; rc == 0 && i < entries.size(); ++i) {
    const std::string path = dir + "/" + entries[i].name;
    rc = platform::TypeOfEntry(dir, entries[i]) == EntryType::kDirectory ? RemoveTree(ctx, path) : env->Unlink(path);
    if (rc == -ENOENT) rc = 0;
  }
  return rc ? rc : env->RmDir(dir);
}

}  // namespace dovrane::extlib

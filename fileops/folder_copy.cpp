#include "fileops/folder_copy.h"

#include <cerrno>
#include <vector>

#include "extlib/projects/dir_tree.h"
#include "extlib/installation/operation_context.h"
#include "fileops/copy_engine.h"
#include "fileops/directory_size.h"
#include "platform/env.h"
#include "platform/file_util.h"

namespace dovrane::fileops {

using platform::CurrentEnv;
using platform::EntryType;

namespace {

// A symbolic link is copied as a link: the text it holds, never what it names.
int CopyLink(extlib::OperationContext& ctx, const std::string& from, const std::string& to) {
  platform::Env* env = &ctx.Env();
  std::string target;
  int rc = env->ReadLink(from, &target);
  return rc == 0 ? env->Symlink(target, to) : rc;
}

int CopyFile(extlib::OperationContext& ctx, const std::string& from, const std::string& to) {
  // Split pieces in a project folder would be registered as the project's files.
  const bool split = ctx.split_files;
  ctx.split_files = false;
  const CopyResult copied = CopyFileWithSplit(ctx, nullptr, from, to);
  ctx.split_files = split;
  if (!copied.ok()) return copied.Code();
  if (ctx.progress()) ctx.progress()->Advance(static_cast<double>(copied.bytes));
  return 0;
}

int CopyInner(extlib::OperationContext& ctx, const std::string& from, const std::string& to) {
  platform::Env* env = &ctx.Env();
  platform::FileInfo info;
  int rc = env->Stat(from, &info, false);
  if (rc == 0 && info.type != EntryType::kDirectory) rc = -ENOTDIR;
  if (rc == 0) rc = env->MkDir(to, 0700);
  if (rc) return rc;
  std::vector<platform::DirEntry> entries;
  rc = env->ListDir(from, &entries);
  for (size_t i = 0; rc == 0 && i < entries.size(); ++i) {
    if (ctx.Cancelled()) return -ECANCELED;
    const std::string src = from + "/" + entries[i].name, dst = to + "/" + entries[i].name;
    const EntryType t = platform::TypeOfEntry(from, entries[i]);
    if (t == EntryType::kDirectory)
      rc = CopyInner(ctx, src, dst);
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

}  // namespace

int CopyFolder(extlib::OperationContext& ctx, const std::string& from, const std::string& to) {
  extlib::Progress* progress = ctx.progress();
  if (progress) {
    const int64_t total = SumDirectorySize(ctx, from, "*.*", 1);
    if (total < 0 || ctx.Cancelled()) return -ECANCELED;
    progress->StartCounted(static_cast<double>(total));
  }
  int rc = CopyInner(ctx, from, to);
  if (rc == 0 && ctx.Cancelled()) rc = -ECANCELED;
  if (rc != 0) (void)extlib::RemoveTree(ctx, to);  // the copy's own failure is the answer
  if (progress) progress->Finish();
  return rc;
}

}  // namespace dovrane::fileops

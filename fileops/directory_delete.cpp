#include "fileops/directory_delete.h"

#include <fcntl.h>

#include <cerrno>
#include <vector>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "fileops/file_messages.h"
#include "fileops/path_parts.h"
#include "platform/env.h"
#include "platform/messenger.h"
#include "platform/path_map.h"
#include "platform/system_error.h"

namespace dovrane::fileops {

namespace {

using platform::EntryType;

constexpr unsigned kRetryBox = platform::kMbRetryCancel | platform::kMbIconError;

bool DeleteTreeAt(extlib::OperationContext& ctx, int parentfd, const std::string& name, const std::string& shown);

// Deletes one file (or link) in dirfd; true when it is gone.
bool DeleteFileAt(extlib::OperationContext& ctx, int dirfd, const std::string& name, const std::string& shown,
                  bool* is_directory) {
  platform::Env* env = &ctx.installation().Env();
  for (;;) {
    int rc = env->UnlinkAt(dirfd, name, false);
    if (rc == 0 || rc == -ENOENT) return true;
    if (rc == -EISDIR) {  // the listing did not know the type
      *is_directory = true;
      return false;
    }
    if (FileBox(ctx, kRetryBox, FileErrorMessage(3, shown, rc)) != platform::kIdRetry) return false;
  }
}

// Deletes what the folder open at dirfd holds; true when nothing resisted.
bool DeleteContents(extlib::OperationContext& ctx, int dirfd, const std::string& shown) {
  platform::Env* env = &ctx.installation().Env();
  std::vector<platform::DirEntry> entries;
  (void)env->ListDirFd(dirfd, &entries);  // what could be listed is deleted; the rest shows at the folder
  bool result = true;
  for (const platform::DirEntry& e : entries) {
    // Stopped between files: what is left stays, with its folders.
    if (ctx.Cancelled()) return false;
    const std::string path = JoinPath(shown, e.name);
    EntryType type = e.type;
    if (type == EntryType::kUnknown) {
      platform::FileInfo info;
      if (env->StatAt(dirfd, e.name, &info, false) < 0) continue;
      type = info.type;
    }
    bool is_directory = type == EntryType::kDirectory;
    if (!is_directory && !DeleteFileAt(ctx, dirfd, e.name, path, &is_directory) && !is_directory) result = false;
    if (is_directory && !DeleteTreeAt(ctx, dirfd, e.name, path)) result = false;
  }
  return result;
}

// Deletes the folder name in parentfd (AT_FDCWD with a path at the top) and
// what it holds; shown is its path for the questions.
bool DeleteTreeAt(extlib::OperationContext& ctx, int parentfd, const std::string& name, const std::string& shown) {
  platform::Env* env = &ctx.installation().Env();
  bool result = true;
  int fd = env->OpenAt(parentfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd >= 0) {
    result = DeleteContents(ctx, fd, shown);
    platform::CloseNothingPending(env, fd);
  }
  platform::FileInfo info;
  if (env->StatAt(parentfd, name, &info, false) == -ENOENT) return result;
  if (!result && ctx.Cancelled()) return false;  // no question after a Cancel
  for (;;) {
    int rc = env->UnlinkAt(parentfd, name, true);
    if (rc == 0 || rc == -ENOENT) return result;
    if (FileBoxF(ctx, kRetryBox, "Can't delete (%s)!\n\n%s", shown.c_str(), platform::SystemErrorText(rc)) !=
        platform::kIdRetry)
      return false;
  }
}

}  // namespace

bool DeleteDirectoryTree(extlib::OperationContext& ctx, void* window, const std::string& directory) {
  (void)window;
  platform::Env* env = &ctx.installation().Env();
  const std::string native = ctx.installation().Paths().ToNative(directory);
  if (native.empty()) return true;  // an unmapped drive holds nothing
  platform::FileInfo info;
  int rc = env->Stat(native, &info, false);
  if (rc == -ENOENT) return true;
  // A link at the top is removed itself; what it points to stays.
  if (rc == 0 && info.type == EntryType::kLink) {
    bool is_directory = false;
    return DeleteFileAt(ctx, AT_FDCWD, native, directory, &is_directory);
  }
  return DeleteTreeAt(ctx, AT_FDCWD, native, directory);
}

}  // namespace dovrane::fileops

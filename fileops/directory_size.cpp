#include "fileops/directory_size.h"

#include <fcntl.h>

#include <vector>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "fileops/wildcard.h"
#include "platform/env.h"
#include "platform/path_map.h"

namespace dovrane::fileops {

namespace {

using platform::EntryType;

// Walks relative to the folder's handle; the listing's type spares a status
// call for folders, files need one for their size. Sets *stopped when the
// person cancelled.
int64_t SumAt(extlib::OperationContext& ctx, int dirfd, const std::string& pattern, bool recurse, bool* stopped) {
  platform::Env* env = &ctx.installation().Env();
  std::vector<platform::DirEntry> entries;
  if (env->ListDirFd(dirfd, &entries) < 0 && entries.empty()) return 0;
  int64_t total = 0;
  for (const platform::DirEntry& e : entries) {
    if (ctx.Cancelled()) {
      *stopped = true;
      return total;
    }
    if (e.name[0] == '.' || !MatchesWildcard(pattern, e.name)) continue;
    EntryType type = e.type;
    platform::FileInfo info;
    if (type == EntryType::kFile || type == EntryType::kUnknown) {
      if (env->StatAt(dirfd, e.name, &info, false) < 0) continue;
      type = info.type;
    } else if (type == EntryType::kLink) {
      if (env->StatAt(dirfd, e.name, &info, true) < 0 || info.type != EntryType::kFile) continue;
      type = EntryType::kFile;
    }
    if (type == EntryType::kFile) {
      total += static_cast<int64_t>(info.size);
    } else if (type == EntryType::kDirectory && recurse) {
      int sub = env->OpenAt(dirfd, e.name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      if (sub < 0) continue;
      total += SumAt(ctx, sub, pattern, true, stopped);
      platform::CloseNothingPending(env, sub);
      if (*stopped) return total;
    }
  }
  return total;
}

}  // namespace

int64_t SumDirectorySize(extlib::OperationContext& ctx, const std::string& directory, const std::string& pattern,
                         int recurse) {
  platform::Env* env = &ctx.installation().Env();
  const std::string native = ctx.installation().Paths().ToNative(directory);
  if (native.empty()) return 0;
  int fd = env->Open(native, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return 0;
  bool stopped = false;
  int64_t total = SumAt(ctx, fd, pattern, recurse != 0, &stopped);
  platform::CloseNothingPending(env, fd);
  return stopped ? static_cast<int64_t>(extlib::kPrjInterrupted) : total;
}

}  // namespace dovrane::fileops

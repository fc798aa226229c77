#include "fileops/directory_size.h"

#include <fcntl.h>

#include <vector>

#include "fileops/message_pump.h"
#include "fileops/wildcard.h"
#include "platform/env.h"
#include "platform/path_map.h"

namespace dovrane::fileops {

namespace {

using platform::EntryType;

// Walks relative to the folder's handle; the listing's type spares a status
// call for folders, files need one for their size.
int64_t SumAt(int dirfd, const std::string& pattern, bool recurse) {
  platform::Env* env = platform::CurrentEnv();
  std::vector<platform::DirEntry> entries;
  if (env->ListDirFd(dirfd, &entries) < 0 && entries.empty()) return 0;
  int64_t total = 0;
  for (const platform::DirEntry& e : entries) {
    PumpMessages();
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
      total += SumAt(sub, pattern, true);
      env->Close(sub);
    }
  }
  return total;
}

}  // namespace

int64_t SumDirectorySize(const std::string& directory, const std::string& pattern, int recurse) {
  platform::Env* env = platform::CurrentEnv();
  const std::string native = platform::NativePath(directory);
  if (native.empty()) return 0;
  int fd = env->Open(native, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return 0;
  int64_t total = SumAt(fd, pattern, recurse != 0);
  env->Close(fd);
  return total;
}

}  // namespace dovrane::fileops

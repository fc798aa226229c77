#include "tree/measure_directory.h"

#include <vector>

#include "platform/env.h"

namespace dovrane::tree {

using platform::EntryType;

namespace {

bool Measure(extlib::OperationContext& ctx, const std::string& dir, DirectoryMeasure* m) {
  platform::Env* env = &ctx.Env();
  std::vector<platform::DirEntry> entries;
  const int rc = env->ListDir(dir, &entries);
  if (rc != 0) {
    if (m->unlisted == 0) {
      m->unlisted = rc;
      m->unlisted_dir = dir;
    }
    return true;
  }
  if (ctx.progress()) ctx.progress()->Line(dir + "\n");
  for (const platform::DirEntry& e : entries) {
    if (ctx.Cancelled()) return false;
    const std::string path = dir + "/" + e.name;
    platform::FileInfo info;
    if (env->Stat(path, &info, false) != 0) continue;  // gone meanwhile
    if (info.type == EntryType::kLink && (env->Stat(path, &info, true) != 0 || info.type != EntryType::kFile))
      continue;
    if (info.type == EntryType::kDirectory) {
      if (e.name[0] != '.' && !Measure(ctx, path, m)) return false;
    } else if (info.type == EntryType::kFile) {
      ++m->files;
      m->bytes += info.size;
    }
  }
  return true;
}

}  // namespace

DirectoryMeasure MeasureDirectory(extlib::OperationContext& ctx, const std::string& dir) {
  DirectoryMeasure m;
  if (!Measure(ctx, dir, &m)) m = DirectoryMeasure{-1, 0, 0, {}};
  return m;
}

}  // namespace dovrane::tree

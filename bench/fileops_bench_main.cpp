// Runs one file operation of dovrane on a native path, for bench/fileops_bench.sh:
//   dovrane-fileops-bench copy SRC DST   copy engine on every file of SRC (or SRC itself)
//   dovrane-fileops-bench sum DIR        SumDirectorySize(DIR, "*.*", recursive), printed
//   dovrane-fileops-bench delete DIR     DeleteDirectoryTree(DIR)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "extlib/installation/operation_context.h"
#include "fileops/copy_engine.h"
#include "fileops/directory_delete.h"
#include "fileops/directory_size.h"
#include "platform/env.h"

namespace {

using dovrane::platform::CurrentEnv;
using dovrane::platform::DirEntry;
using dovrane::platform::EntryType;

// Copies the tree as host check-out walks the \Net folder: one engine call per file.
bool CopyTree(const std::string& src, const std::string& dst) {
  dovrane::platform::FileInfo info;
  if (CurrentEnv()->Stat(src, &info) < 0) return false;
  if (info.type != EntryType::kDirectory)
    return dovrane::fileops::CopyFileWithSplit(dovrane::extlib::DefaultContext(), nullptr, src, dst).bytes ==
           static_cast<int64_t>(info.size);
  std::vector<DirEntry> entries;
  if (CurrentEnv()->ListDir(src, &entries) < 0) return false;
  bool ok = true;
  for (const DirEntry& e : entries) ok = CopyTree(src + "/" + e.name, dst + "/" + e.name) && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "copy") == 0) return CopyTree(argv[2], argv[3]) ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "sum") == 0) {
    std::printf("%lld\n", static_cast<long long>(dovrane::fileops::SumDirectorySize(dovrane::extlib::DefaultContext(), argv[2], "*.*", 1)));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "delete") == 0)
    return dovrane::fileops::DeleteDirectoryTree(dovrane::extlib::DefaultContext(), nullptr, argv[2]) ? 0 : 1;
  std::fprintf(stderr, "usage: %s copy SRC DST | sum DIR | delete DIR\n", argv[0]);
  return 2;
}

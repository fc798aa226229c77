// Runs one tree command's core on a sample installation, for bench/tree_bench.sh:
//   dovrane-tree-bench copy SOURCE NEW_NAME HOST   the copy of a project to a host
//   dovrane-tree-bench size DIR                    the properties' measurement, printed
#include <cstdio>
#include <cstring>
#include <string>

#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "tree/measure_directory.h"
#include "tree/project_copy.h"

int main(int argc, char** argv) {
  using namespace dovrane;
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  ctx.interactive = 0;
  if (argc == 3 && std::strcmp(argv[1], "size") == 0) {
    const tree::DirectoryMeasure m = tree::MeasureDirectory(ctx, argv[2]);
    std::printf("%llu %lld\n", static_cast<unsigned long long>(m.bytes), static_cast<long long>(m.files));
    return 0;
  }
  if (argc != 5 || std::strcmp(argv[1], "copy") != 0) return 2;
  int mode = 2;
  if (extlib::lzinit(extlib::DefaultContext(), &mode, 0, 0, 0, 0, 0) != 0) return 1;
  uint32_t number = 0;
  return tree::CopyProjectToHost(ctx, argv[2], argv[3], argv[4], &number) == 0 ? 0 : 1;
}

// Copies the office standard as a host check-out does, for bench/checkout_bench.sh:
//   dovrane-checkout-bench UNC_ROOT   copies \\SRC\STD's default components into \\DST\STD
// (measured first, as the dialog does, then copied with the copy engine).
#include <cstdio>
#include <string>
#include <vector>

#include "checkout/office_standard.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "platform/path_map.h"

int main(int argc, char** argv) {
  using namespace dovrane;
  if (argc != 2) {
    std::fputs("usage: dovrane-checkout-bench UNC_ROOT\n", stderr);
    return 2;
  }
  platform::PathMap::Instance().SetUncRoot(argv[1]);
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  checkout::StdSizes sizes;
  if (!checkout::MeasureOfficeStandard(ctx, "\\\\SRC", &sizes)) return 1;
  checkout::StdChoice choice;
  choice.checked.fill(true);
  std::vector<std::string> created;
  return checkout::CopyOfficeStandard(ctx, checkout::FillStdItemTable(sizes, choice), "\\\\SRC", "\\\\DST", &created)
             ? 0
             : 1;
}

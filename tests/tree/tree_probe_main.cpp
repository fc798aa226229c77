// Runs one tree command's core as the main window's worker would, so that the
// fault, kill and concurrent runs can meet it in a process of its own:
//   tree_probe copy SOURCE NEW_NAME HOST
//   tree_probe rename OLD_NAME NEW_NAME
//   tree_probe fill      the trees' fill; prints "<hosts> <projects>"
// The exit status is the command's result as the command line makes it one.
#include <cstdlib>
#include <string>

#include "app/project_error.h"
#include "extlib/library_init.h"
#include "extlib/operation_context.h"
#include "platform/fault_injection_env.h"
#include "platform/terminal.h"
#include "tree/host_table.h"
#include "tree/project_copy.h"
#include "tree/project_rename.h"

int main(int argc, char** argv) {
  using namespace dovrane;
  platform::Terminal::CaptureOriginalStreams();
  platform::InstallFaultInjectionFromEnvironment();
  const std::string what = argc > 1 ? argv[1] : "";
  if (!((what == "copy" && argc == 5) || (what == "rename" && argc == 4) || (what == "fill" && argc == 2))) return 22;
  (void)extlib::VekArbeitsVerzeichnis();
  (void)platform::RedirectStandardStreams("STDERR.OUT");
  int mode = 2;
  if (extlib::lzinit(&mode, 0, 0, 0, 0, 0) != 0) {
    extlib::lgstop_C_("lfpath_ini");  // the library names its reason, as the program does
    return 1;
  }
  if (what == "fill") {
    tree::FillInput input;
    if (const int rc = tree::ReadFillInput(&input); rc != 0) return app::ExitStatusOf(rc);
    const std::unique_ptr<tree::HostTable> table = tree::BuildHostTable(input);
    if (!table) return 1;
    platform::Terminal::WriteOut(std::to_string(table->hosts.size()) + " " + std::to_string(table->ProjectCount()) + "\n");
    return 0;
  }
  extlib::OperationContext ctx;
  ctx.interactive = 0;
  uint32_t number = 0;
  const int rc = what == "copy" ? tree::CopyProjectToHost(ctx, argv[2], argv[3], argv[4], &number)
                                : tree::RenameProject(ctx, argv[3], argv[2]);
  return app::ExitStatusOf(rc);
}

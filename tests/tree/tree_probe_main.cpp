// Runs one tree command's core as the main window's worker would, so that the
// fault, kill and concurrent runs can meet it in a process of its own:
//   tree_probe copy SOURCE NEW_NAME HOST
//   tree_probe rename OLD_NAME NEW_NAME
//   tree_probe fill      the trees' fill; prints "<hosts> <projects>"
// and the other cores the window calls for its commands, each as its worker
// runs it (the dialogs' answers given, every other question unanswered):
//   tree_probe create HOST            the new-project command
//   tree_probe delete NAME            the delete command
//   tree_probe move NAME HOST         a project dropped onto another host
//   tree_probe add-host UNC_PATH      a data server added (\\HOST\path)
//   tree_probe remove-host HOST       a data server removed
//   tree_probe checkout-host HOST     the host checked out (this computer)
//   tree_probe checkin-host HOST      the host checked in
//   tree_probe checkout-project HOST NAME / checkin-project HOST NAME
//   tree_probe remove-lock NAME       a project's lock information file deleted
//   tree_probe remove-host-mark HOST  a host's check-out information file deleted
// The exit status is the command's result as the command line makes it one;
// a window command's success (1) is 0, its failure (0) is 1.
#include <cstdlib>
#include <string>

#include "app/project_commands.h"
#include "app/project_error.h"
#include "app/project_move.h"
#include "checkout/checkin.h"
#include "checkout/checkout.h"
#include "checkout/checkout_info_file.h"
#include "checkout/office_standard.h"
#include "extlib/prj_record.h"
#include "extlib/library_init.h"
#include "extlib/operation_context.h"
#include "platform/fault_injection_env.h"
#include "platform/terminal.h"
#include "tree/host_table.h"
#include "tree/project_copy.h"
#include "tree/project_rename.h"
#include "ui/host_commands.h"
#include "ui/tree_command_work.h"

namespace {

using namespace dovrane;

// A window command's 1 (done) or 0 as an exit status.
int DialogStatus(int done) { return done == 1 ? 0 : 1; }

// The host's check-out or check-in list as the window builds it from the
// host's items in the tree.
std::vector<checkout::CheckoutEntry> HostList(ui::HostListPurpose purpose, const std::string& host) {
  tree::FillInput input;
  if (tree::ReadFillInput(&input) != 0) return {};
  const std::unique_ptr<tree::HostTable> table = tree::BuildHostTable(input);
  const tree::HostRecord* record = table ? table->FindHost(host) : nullptr;
  std::vector<ui::HostChild> children;
  if (record)
    for (const auto& project : record->projects) children.push_back({project->name, project->kind});
  return ui::BuildHostList(purpose, host, children).list;
}

int WindowCommand(const std::string& what, int argc, char** argv) {
  extlib::OperationContext ctx;
  ctx.interactive = 0;
  const std::string a = argc > 2 ? argv[2] : "", b = argc > 3 ? argv[3] : "";
  if (what == "create") {
    std::string name;
    return app::ExitStatusOf(ui::CreateNewProject(ctx, a, &name));
  }
  if (what == "delete") return app::ExitStatusOf(app::EraseProject(ctx, extlib::PadName(a)));
  if (what == "move") return app::ExitStatusOf(app::MoveProject(extlib::PadName(a), b));
  if (what == "add-host") return DialogStatus(ui::AddDataServer(ctx, a) ? 1 : 0);
  if (what == "remove-host") return DialogStatus(ui::RemoveHost(a) ? 1 : 0);
  if (what == "checkout-host") {
    const auto list = HostList(ui::HostListPurpose::kCheckOut, a);
    std::string net;
    checkout::CheckoutAnswers answers;
    answers.comment = "hostile-link run";
    checkout::StdSizes sizes;
    if (list.empty() || !checkout::CheckoutNetFolder(&net) ||
        !checkout::MeasureOfficeStandard(ctx, net.substr(0, net.size() - 4), &sizes))
      return 1;
    answers.components = checkout::FillStdItemTable(sizes, checkout::ReadStdChoice());
    return DialogStatus(checkout::CheckOut(ctx, checkout::kCheckoutHost, list, answers));
  }
  if (what == "checkin-host") {
    const auto list = HostList(ui::HostListPurpose::kCheckIn, a);
    return list.empty() ? 1 : DialogStatus(checkout::CheckIn(ctx, 0, list));
  }
  if (what == "checkout-project") return DialogStatus(ui::CheckOutOneProject(ctx, a, b, "hostile-link run"));
  if (what == "checkin-project") return DialogStatus(ui::CheckInOneProject(ctx, a, b));
  if (what == "remove-lock") return ui::RemoveLockFile(ctx, a);
  if (what == "remove-host-mark") return app::ExitStatusOf(ui::RemoveHostCheckoutFile(ctx, a));
  return 22;
}

bool IsWindowCommand(const std::string& what, int argc) {
  for (const char* one : {"create", "delete", "add-host", "remove-host", "checkout-host", "checkin-host", "remove-lock",
                          "remove-host-mark"})
    if (what == one) return argc == 3;
  for (const char* two : {"move", "checkout-project", "checkin-project"})
    if (what == two) return argc == 4;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dovrane;
  platform::Terminal::CaptureOriginalStreams();
  platform::InstallFaultInjectionFromEnvironment();
  const std::string what = argc > 1 ? argv[1] : "";
  if (!((what == "copy" && argc == 5) || (what == "rename" && argc == 4) || (what == "fill" && argc == 2) ||
        IsWindowCommand(what, argc)))
    return 22;
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
  if (IsWindowCommand(what, argc)) return WindowCommand(what, argc, argv);
  extlib::OperationContext ctx;
  ctx.interactive = 0;
  uint32_t number = 0;
  const int rc = what == "copy" ? tree::CopyProjectToHost(ctx, argv[2], argv[3], argv[4], &number)
                                : tree::RenameProject(ctx, argv[3], argv[2]);
  return app::ExitStatusOf(rc);
}

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
//   tree_probe serve     a window that stays open: one command a line on
//                        standard input, its words separated by tabs (the
//                        commands above, and "properties HOST NAME" and
//                        "refresh"); answers "= STATUS [TEXT]" a line
// The exit status is the command's result as the command line makes it one;
// a window command's success (1) is 0, its failure (0) is 1.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/projects/project_commands.h"
#include "app/projects/project_error.h"
#include "app/projects/project_move.h"
#include "checkout/checkin.h"
#include "checkout/checkout.h"
#include "checkout/checkout_info_file.h"
#include "checkout/office_standard.h"
#include "checkout/unfinished_checkout.h"
#include "extlib/installation/installation.h"
#include "extlib/records/prj_record.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "platform/fault_injection_env.h"
#include "platform/terminal.h"
#include "tree/host_table.h"
#include "tree/project_copy.h"
#include "tree/project_rename.h"
#include "tree/item_commands.h"
#include "tree/host_commands.h"
#include "ui/refresh_check.h"
#include "tree/tree_command_work.h"

namespace {

using namespace dovrane;

// A window command's 1 (done) or 0 as an exit status.
int DialogStatus(int done) { return done == 1 ? 0 : 1; }

// The host's check-out or check-in list as the window builds it from the
// host's items in the tree.
// A refused list is empty; the refused project is named on standard error.
// own_marks: the marks 0x04 of this host are a check-out's cut short, which
// the window's Yes finishes.
std::vector<checkout::CheckoutEntry> HostList(tree::HostListPurpose purpose, const std::string& host,
                                              bool own_marks = false) {
  tree::FillInput input;
  if (tree::ReadFillInput(extlib::DefaultContext(), &input) != 0) return {};
  const std::unique_ptr<tree::HostTable> table = tree::BuildHostTable(input);
  const tree::HostRecord* record = table ? table->FindHost(host) : nullptr;
  std::vector<tree::HostChild> children;
  if (record)
    for (const tree::ProjectRecord& project : record->projects) children.push_back({std::string(project.name()), project.kind});
  tree::HostListResult result = tree::BuildHostList(extlib::DefaultContext(), purpose, host, children, own_marks);
  if (result.refused_row >= 0 && static_cast<size_t>(result.refused_row) < children.size())
    platform::Terminal::WriteErr("the host's list refuses project " + children[result.refused_row].text + "\n");
  return result.list;
}

// created: the name a create picked, for a caller that keeps track.
int WindowCommand(const std::string& what, const std::string& a, const std::string& b, std::string* created = nullptr) {
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  ctx.interactive = 0;
  if (what == "create") {
    std::string name;
    const int rc = tree::CreateNewProject(ctx, a, &name);
    if (created) *created = name;
    return app::ExitStatusOf(rc);
  }
  if (what == "delete") return app::ExitStatusOf(app::EraseProject(ctx, extlib::PadName(a)));
  if (what == "move") return app::ExitStatusOf(app::MoveProject(extlib::DefaultContext(), extlib::PadName(a), b));
  if (what == "add-host") return DialogStatus(tree::AddDataServer(ctx, a) ? 1 : 0);
  if (what == "remove-host") return DialogStatus(tree::RemoveHost(extlib::DefaultContext(), a) ? 1 : 0);
  if (what == "checkout-host") {
    // A check-out cut short is finished, as the window's button does after Yes.
    const bool finish = checkout::FindUnfinished(ctx, a) == checkout::Unfinished::kCheckout;
    const auto list = HostList(tree::HostListPurpose::kCheckOut, a, finish);
    std::string net;
    checkout::CheckoutAnswers answers;
    answers.finish_cut_short = finish;
    answers.comment = "hostile-link run";
    checkout::StdSizes sizes;
    // Each refusal named: a run that only sees status 1 cannot tell them apart.
    if (list.empty()) return platform::Terminal::WriteErr("checkout-host: the trees list no host " + a + "\n"), 1;
    if (!checkout::CheckoutNetFolder(&net))
      return platform::Terminal::WriteErr("checkout-host: no network folder\n"), 1;
    if (!checkout::MeasureOfficeStandard(ctx, net.substr(0, net.size() - 4), &sizes))
      return platform::Terminal::WriteErr("checkout-host: the office standard could not be measured\n"), 1;
    answers.components = checkout::FillStdItemTable(sizes, checkout::ReadStdChoice());
    return DialogStatus(checkout::CheckOut(ctx, checkout::kCheckoutHost, list, answers));
  }
  if (what == "checkin-host") {
    // Finishing a check-in under way, the marks still set are the ones it had
    // not released yet, as for the window's button.
    const bool finishing = checkout::FindUnfinished(ctx, a) == checkout::Unfinished::kCheckin;
    const auto list = HostList(tree::HostListPurpose::kCheckIn, a, finishing);
    return list.empty() ? 1 : DialogStatus(checkout::CheckIn(ctx, 0, list));
  }
  if (what == "checkout-project") return DialogStatus(tree::CheckOutOneProject(ctx, a, b, "hostile-link run"));
  if (what == "checkin-project") return DialogStatus(tree::CheckInOneProject(ctx, a, b));
  if (what == "remove-lock") return tree::RemoveLockFile(ctx, a);
  if (what == "remove-host-mark") return app::ExitStatusOf(tree::RemoveHostCheckoutFile(ctx, a));
  return 22;
}

// The properties command on a project: its folder looked up and measured as
// the window's worker does; TEXT is the number of files.
int Properties(const std::string& host, const std::string& name, std::string* text) {
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  ctx.interactive = 0;
  tree::PropertiesRequest request;
  request.kind = tree::kKindProject;
  request.name = name;
  request.host = host;
  request.ping_allowed = false;
  tree::PropertiesResult result;
  (void)tree::GatherProperties(ctx, request, &result);
  if (!result.show_dialog) return 1;
  *text = std::to_string(result.files);
  return 0;
}

// The refresh check's disk look-ups over the hosts the trees show; TEXT is
// "<hosts> <projects> <hosts with a check-out file>".
int Refresh(std::string* text) {
  tree::FillInput input;
  if (const int rc = tree::ReadFillInput(extlib::DefaultContext(), &input); rc != 0) return app::ExitStatusOf(rc);
  const std::unique_ptr<tree::HostTable> table = tree::BuildHostTable(input);
  std::string net;
  if (!table || !checkout::CheckoutNetFolder(&net)) return 1;
  ui::RefreshRequest request;
  request.net_folder = net;
  for (const auto& host : table->hosts) request.hosts.push_back({host->name, 0});
  const ui::RefreshProbe probe = ui::ProbeRefresh(extlib::DefaultContext(), request);
  if (!probe.admin_found) return 1;
  size_t out = 0;
  for (char one : probe.host_file_exists) out += one ? 1 : 0;
  *text = std::to_string(table->hosts.size()) + " " + std::to_string(table->ProjectCount()) + " " + std::to_string(out);
  return 0;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> words;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    words.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return words;
    start = tab + 1;
  }
}

// One process for the whole run, as the window is: the library, its cached
// administration and every file it keeps open live from one command to the next.
int Serve() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> w = SplitTabs(line);
    const std::string& what = w[0];
    const std::string a = w.size() > 1 ? w[1] : "", b = w.size() > 2 ? w[2] : "", c = w.size() > 3 ? w[3] : "";
    std::string text;
    int rc = 22;
    if (what == "quit") return 0;
    if (what == "copy" && w.size() == 4) {
      extlib::OperationContext ctx{extlib::ProcessInstallation()};
      ctx.interactive = 0;
      uint32_t number = 0;
      rc = app::ExitStatusOf(tree::CopyProjectToHost(ctx, a, b, c, &number));
    } else if (what == "rename" && w.size() == 3) {
      extlib::OperationContext ctx{extlib::ProcessInstallation()};
      ctx.interactive = 0;
      rc = app::ExitStatusOf(tree::RenameProject(ctx, b, a));
    } else if ((what == "fill" || what == "refresh") && w.size() == 1) {
      rc = Refresh(&text);
    } else if (what == "properties" && w.size() == 3) {
      rc = Properties(a, b, &text);
    } else if (what != "copy" && what != "rename" && what != "checkout-host" && what != "checkin-host" &&
               ((w.size() == 2 && (what == "create" || what == "delete" || what == "add-host" ||
                                   what == "remove-host" || what == "remove-lock" || what == "remove-host-mark")) ||
                (w.size() == 3 && (what == "move" || what == "checkout-project" || what == "checkin-project")))) {
      rc = WindowCommand(what, a, b, &text);
    }
    platform::Terminal::WriteOut("= " + std::to_string(rc) + (text.empty() ? "" : " " + text) + "\n");
  }
  return 0;
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
        (what == "serve" && argc == 2) || IsWindowCommand(what, argc)))
    return 22;
  (void)extlib::VekArbeitsVerzeichnis(extlib::DefaultContext());
  (void)platform::RedirectStandardStreams("STDERR.OUT");
  int mode = 2;
  if (extlib::lzinit(extlib::DefaultContext(), &mode, 0, 0, 0, 0, 0) != 0) {
    extlib::lgstop_C_(extlib::DefaultContext(), "lfpath_ini");  // the library names its reason, as the program does
    return 1;
  }
  if (what == "fill") {
    tree::FillInput input;
    if (const int rc = tree::ReadFillInput(extlib::DefaultContext(), &input); rc != 0) return app::ExitStatusOf(rc);
    const std::unique_ptr<tree::HostTable> table = tree::BuildHostTable(input);
    if (!table) return 1;
    platform::Terminal::WriteOut(std::to_string(table->hosts.size()) + " " + std::to_string(table->ProjectCount()) + "\n");
    return 0;
  }
  if (what == "serve") return Serve();
  if (IsWindowCommand(what, argc)) return WindowCommand(what, argv[2], argc > 3 ? argv[3] : "");
  extlib::OperationContext ctx{extlib::ProcessInstallation()};
  ctx.interactive = 0;
  uint32_t number = 0;
  const int rc = what == "copy" ? tree::CopyProjectToHost(ctx, argv[2], argv[3], argv[4], &number)
                                : tree::RenameProject(ctx, argv[3], argv[2]);
  return app::ExitStatusOf(rc);
}

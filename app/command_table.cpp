#include "app/command_table.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "admin/restore_update.h"
#include "app/command_line_context.h"
#include "app/long_options.h"
#include "app/projects/app_state.h"
#include "app/projects/command_audit.h"
#include "app/projects/project_commands.h"
#include "app/projects/project_data_commands.h"
#include "app/projects/project_error.h"
#include "app/projects/project_json.h"
#include "app/projects/project_move.h"
#include "app/projects/project_queries.h"
#include "app/repair_commands.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "platform/call_deadline.h"
#include "platform/terminal.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {

// Process-wide like the Env: the program or a test puts its window in place.
std::atomic<DialogRunner> g_dialog_runner{nullptr};

int RunCheckout(const CommandArgs& args) {
  SetCheckoutName(args.padded_name);
  return RunDialogMode() == 0 ? 0 : 1;
}

// The project operations, as the table calls them.
int RunGetPath(const CommandArgs& a) { return ProjectGetPath(CommandLineContext(), a.padded_name, a.argument); }
int RunGetNumber(const CommandArgs& a) { return ProjectGetNumber(CommandLineContext(), a.padded_name, a.argument); }
int RunGetDbId(const CommandArgs& a) { return ProjectGetDbId(CommandLineContext(), a.padded_name, a.argument); }
int RunExist(const CommandArgs& a) { return ProjectExist(CommandLineContext(), a.padded_name); }
int RunInfo(const CommandArgs& a) { return ProjectInfo(CommandLineContext(), a.padded_name); }
int RunReorg(const CommandArgs& a) { return ReorganiseProject(CommandLineContext(), a.padded_name); }
int RunRenewUuids(const CommandArgs& a) { return RenewProjectUuids(CommandLineContext(), a.padded_name); }
int RunUpdateAttr(const CommandArgs& a) { return UpdateProjectAttributes(CommandLineContext(), a.padded_name); }
int RunErase(const CommandArgs& a) { return EraseProject(CommandLineContext(), a.padded_name); }
int RunUnblock(const CommandArgs& a) { return UnblockProject(CommandLineContext(), a.padded_name); }
int RunMove(const CommandArgs& a) { return MoveProject(CommandLineContext(), a.padded_name, a.argument); }
// CreateProject itself shows nothing (the main window reports in its own way);
// a script's user learns from this one message why the project was not made.
int RunCreate(const CommandArgs& a) {
  int rc = CreateProject(CommandLineContext(), a.padded_name, a.argument);
  if (rc != 0) ReportProjectError(CommandLineContext(), rc);
  return rc;
}

// The commands that only read the administration.
bool IsQuery(const char* option) {
  for (const char* query : {"-getpath", "-getnumber", "-getdbid", "-exist", "-info"})
    if (std::strcmp(option, query) == 0) return true;
  return false;
}

// True only when the administration was read and holds no such name.
bool NotRegistered(const std::string& padded_name) {
  extlib::PRJ record;
  return extlib::get_project_info(CommandLineContext(), padded_name, &record) == kPrjNotFound;
}

std::vector<Command>& MutableTable() {
  using F = CommandForm;
  static std::vector<Command> table = {
      // argc 3, project forms, in the order they are compared.
      {"-getpath", 3, F::kProject, false, RunGetPath},
      {"-getnumber", 3, F::kProject, false, RunGetNumber},
      {"-getdbid", 3, F::kProject, false, RunGetDbId},
      {"-exist", 3, F::kProject, false, RunExist},
      {"-info", 3, F::kProject, false, RunInfo},
      {"-reorg", 3, F::kProject, false, RunReorg},
      {"-renewUUIDs", 3, F::kProject, false, RunRenewUuids},
      {"-updateattr", 3, F::kProject, false, RunUpdateAttr},
      {"-erase", 3, F::kProject, false, RunErase},
      {"-erase_y", 3, F::kProject, true, RunErase},
      {"-unblock", 3, F::kProject, false, RunUnblock},
      {"-checkout", 3, F::kProject, true, RunCheckout},
      // argc 3, option forms.
      {"-update", 3, F::kOption, false, RunUpdateHost},
      {"-checkin", 3, F::kOption, false, RunCheckin},
      {"-usercfg", 3, F::kOption, false, RunUserCount},
      // argc 4.
      {"-getpath", 4, F::kProject, false, RunGetPath},
      {"-getnumber", 4, F::kProject, false, RunGetNumber},
      {"-getdbid", 4, F::kProject, false, RunGetDbId},
      {"-move", 4, F::kProject, false, RunMove},
      {"-move_y", 4, F::kProject, true, RunMove},
      {"-create", 4, F::kProject, false, RunCreate},
      // argc 2.
      {"-restore", 2, F::kOption, false, RunRestore},
      {"-update", 2, F::kOption, false, RunUpdate},
  };
  return table;
}

const char* const kUsageLines[] = {
    "\t%s prj_name -exist\n",     "\t%s prj_name -info\n",        "\t%s prj_name -getpath [outputfile]\n",
    "\t%s prj_name -getnumber [outputfile]\n", "\t%s prj_name -getdbid [outputfile]\n",
    "\t%s prj_name -move host\n", "\t%s prj_name -move_y host\n", "\t%s prj_name -reorg\n",
    "\t%s prj_name -renewUUIDs\n", "\t%s prj_name -updateattr\n", "\t%s prj_name -erase\n",
    "\t%s prj_name -erase_y\n",   "\t%s prj_name -create host\n", "\t%s prj_name -unblock\n",
    "\t%s -usercfg num_users\n",  "\t%s -checkin path\n",          "\t%s -restore\n",
    "\t%s -update [hostname]\n",
};

}  // namespace

const std::vector<Command>& CommandTable() { return MutableTable(); }

void SetCommandHandler(const char* option, int argc, CommandHandler handler) {
  for (Command& c : MutableTable())
    if (c.argc == argc && std::strcmp(c.option, option) == 0) c.run = handler;
}

void SetDialogRunner(DialogRunner runner) { g_dialog_runner = runner; }

int RunDialogMode() {
  const DialogRunner runner = g_dialog_runner;
  if (!runner) {
    services::ToolMessageBox(CommandLineContext(), services::kMessageError, "%s",
                             "The main window is not part of this build.\n");
    return 1;
  }
  // The window's workers are left on a hanging share; the window never waits.
  platform::SetCallDeadline(0, nullptr);
  return runner();
}

std::string PadProjectName(const std::string& name) {
  std::string padded = name.substr(0, kProjectNameLength);
  padded.resize(kProjectNameLength, ' ');
  return padded;
}

std::string UsageText() {
  std::string text = "usage:\n";
  for (const char* line : kUsageLines) {
    char buf[128];
    std::snprintf(buf, sizeof buf, line, "Dovrane");
    text += buf;
  }
  return text;
}

void PrintUsage(int kind) {
  services::ToolMessageBox(CommandLineContext(), kind, "%s\n", UsageText().c_str());
  extlib::lzende(CommandLineContext());
  std::exit(22);
}

int DispatchCommandLine(const std::vector<std::string>& argv) {
  const int argc = static_cast<int>(argv.size());
  const Command* match = nullptr;
  for (const Command& c : CommandTable()) {
    if (c.argc != argc) continue;
    const std::string& option = c.form == CommandForm::kProject ? argv[2] : argv[1];
    if (option == c.option) {
      match = &c;
      break;
    }
  }
  if (!match) PrintUsage(services::kMessageWarning);

  CommandArgs args;
  const LongOptions& options = CurrentLongOptions();
  // A refused name is answered like any failed command: its words, the JSON
  // a script waits for, and its audit line.
  auto refuse_name = [&](const std::string& name) {
    ReportProjectError(CommandLineContext(), kPrjInvalidName);
    if (options.json && IsQuery(match->option))
      WriteQueryFailureAsJson(name, kPrjInvalidName, ProjectErrorText(kPrjInvalidName));
    if (!options.dry_run) AuditCommand(CommandLineContext(), match->option, argv, kPrjInvalidName);
    extlib::lzende(CommandLineContext());
    return kPrjInvalidName;
  };
  if (match->form == CommandForm::kProject) {
    const std::string& name = argv[1];
    const bool checkout = std::strcmp(match->option, "-checkout") == 0;
    // A name is never looked up cut short: refuse it instead.
    if (!checkout && name.size() > kProjectNameLength) {
      platform::Terminal::Beep();
      return refuse_name(name);
    }
    // A name that no project can have is answered as such, not as a missing
    // project; one that is registered all the same (an older administration)
    // stays reachable.
    if (!checkout && !extlib::IsValidProjectName(name) && NotRegistered(PadProjectName(name))) return refuse_name(name);
    args.padded_name = checkout ? name : PadProjectName(name);
    if (argc == 4) args.argument = argv[3];
  } else if (argc == 3) {
    args.argument = argv[2];
  }
  if (match->clears_interactive) CommandLineContext().interactive = 0;
  int result;
  if (IsQuery(match->option) && admin::RebuildPending(CommandLineContext())) {
    // An answer from half an administration would be wrong (a project whose
    // folder is there "does not exist"): the reader says why it has none.
    result = admin::ReportRebuildPending(CommandLineContext());
    if (options.json) WriteQueryFailureAsJson(args.padded_name, result, "The project administration is being rebuilt");
  } else {
    result = options.json ? RunQueryAsJson(CommandLineContext(), match->option, args) : match->run(args);
  }
  if (!options.dry_run) AuditCommand(CommandLineContext(), match->option, argv, result);
  extlib::lzende(CommandLineContext());
  return ExitStatusOf(result);
}

}  // namespace dovrane::app

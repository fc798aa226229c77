#include "app/command_line_main.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "admin/checkin_path.h"
#include "app/command_line_context.h"
#include "app/command_table.h"
#include "app/dry_run.h"
#include "app/exception_report.h"
#include "app/long_options.h"
#include "app/program_info.h"
#include "app/projects/app_state.h"
#include "app/projects/project_error.h"
#include "app/projects/project_json.h"
#include "app/share_deadline.h"
#include "app/share_locations.h"
#include "app/terminal_progress.h"
#include "extlib/installation/general.h"
#include "extlib/installation/installation.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "platform/crash_signals.h"
#include "platform/env.h"
#include "platform/fault_injection_env.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/terminal.h"
#include "platform/text_codec.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {

std::string JoinCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line += ' ';
    line += a.find_first_of(" \t") == std::string::npos ? a : "\"" + a + "\"";
  }
  return line;
}

// Converts the arguments to the system's code page; false when there are too
// many or one has no Windows-1252 form.
bool ConvertArguments(const std::vector<std::string>& args, std::vector<std::string>* out) {
  if (args.size() > static_cast<size_t>(kMaxArguments)) return false;
  out->clear();
  for (const std::string& a : args) {
    std::string converted;
    if (!platform::Utf8ToCp1252(a, &converted)) return false;
    out->push_back(converted);
  }
  return true;
}

// json_name: a --json query's project, whose script waits for the failure object.
void InitialiseLibrary(const std::string* json_name = nullptr) {
  int mode = 2;
  const int rc = extlib::lzinit(CommandLineContext(), &mode, 0, 0, 0, 0, 0);
  if (rc == 0) return;
  // The object's result is the exit status the script sees below.
  constexpr int kNoInstallationStatus = 1;
  if (json_name) WriteQueryFailureAsJson(*json_name, kNoInstallationStatus, "No usable installation");
  if (rc == 1) {
    // No network path at all: most likely a computer without an installation yet.
    const std::string file = extlib::SettingsFilePath("HKLM");
    platform::FileInfo info;
    const bool exists = platform::CurrentEnv()->Stat(file, &info) == 0;
    // A file that is there but cannot be read is no proof that it names nothing.
    std::string contents;
    const int read_error = exists ? platform::ReadWholeFile(file, &contents) : 0;
    const std::string hint = NoInstallationText(file, exists, read_error == -ENOENT ? 0 : read_error);
    std::string text;
    if (!platform::Utf8ToCp1252(hint, &text)) text = hint;
    services::ToolMessageBox(CommandLineContext(), services::kMessageError, "%s", text.c_str());
  }
  extlib::lgstop_C_(CommandLineContext(), "lfpath_ini");
  std::exit(kNoInstallationStatus);  // the library reports; ending the run is the program's decision
}

// The repair runs whole on a private copy: the same words as the real run,
// and the installation unchanged. 0 once the preview ran, 1 when no copy
// could be made.
int RunDryRun(std::vector<std::string> argv) {
  // A native path to check in names the real folder: it is taken in its
  // Windows form before the map points at the copy.
  if (argv.size() == 3 && argv[1] == "-checkin" && !argv[2].empty()) {
    const std::string windows = admin::AbsoluteCheckinPath(CommandLineContext(), argv[2]);
    if (!windows.empty()) argv[2] = windows;
  }
  DryRunCopy copy(CommandLineContext().installation().Paths());
  if (const int rc = copy.Prepare(); rc != 0) {
    services::ToolMessageBox(CommandLineContext(), services::kMessageError,
                             "The installation could not be copied for the preview (%s).\n",
                             platform::ErrorName(rc).c_str());
    extlib::lzende(CommandLineContext());
    return 1;
  }
  (void)DispatchCommandLine(argv);
  return 0;
}

// Too many arguments, or one without a Windows-1252 form: said in a message box.
void ReportUnconvertibleArguments(const std::vector<std::string>& args) {
  char text[2048];
  std::snprintf(text, sizeof text,
                "Problems while converting parameters.\nMay be too much parameters (maximum is %d) or invalid "
                "parameter format!\nCurrent command line is:\n%s",
                kMaxArguments, JoinCommandLine(args).c_str());
  std::string cp;
  if (!platform::Utf8ToCp1252(text, &cp)) cp = text;
  platform::CurrentMessenger()->MessageBox(cp, "String2ArgcArgv", platform::kMbTaskModal | platform::kMbIconWarning);
}

// The start folder is noted, the run goes to the work folder, its standard
// streams to STDERR.OUT there, with the file access trace when asked for.
void EnterWorkFolder(platform::Env* env) {
  std::string start_folder;
  (void)env->GetCwd(&start_folder);
  SetStartFolder(start_folder);
  extlib::VekArbeitsVerzeichnis(CommandLineContext());
  // The terminal keeps its own copies of the streams before they go to the file.
  platform::Terminal::CaptureOriginalStreams();
  platform::RedirectStandardStreams("STDERR.OUT");
  platform::FileInfo info;
  if (env->Stat("mit", &info) == 0) extlib::setFileAccessTrace(1);
  if (extlib::getFileAccessTrace()) extlib::lfPrintSystemInfo(stderr);
  extlib::lfperrC_SetMode(1);
}

// No command: --where, --list, or the dialog mode.
int RunWithoutArguments(platform::Env* env, const LongOptions& options) {
  if (options.where) {
    int mode = 2;
    const int init = extlib::lzinit(CommandLineContext(), &mode, 0, 0, 0, 0, 0);
    if (init == 1) InitialiseLibrary();  // no installation at all: said as for any command
    const int rc = PrintShareLocations(CommandLineContext(), options, init == 0);
    extlib::lzende(CommandLineContext());
    return ExitStatusOf(rc);
  }
  if (options.list) {
    InitialiseLibrary();
    ArmShareDeadline();
    const int rc = ListProjects(CommandLineContext(), options);
    if (rc == kPrjAdminMissing)
      ReportProjectError(CommandLineContext(), rc);  // a damaged one the table reports itself
    extlib::lzende(CommandLineContext());
    return ExitStatusOf(rc);
  }
  if (env->SetEnv("VEKLOG", "sysadm") != 0) extlib::lf_perror(CommandLineContext(), "putenv");
  InitialiseLibrary();
  CommandLineContext().interactive = 0;
  return RunDialogMode();
}

}  // namespace

int CommandLineMain(const std::vector<std::string>& args) {
  platform::Env* env = platform::CurrentEnv();
  std::vector<std::string> argv;
  if (!ConvertArguments(args, &argv)) {
    ReportUnconvertibleArguments(args);
    return 1;
  }
  if (argv.empty()) PrintUsage(services::kMessageError);
  // Answered before anything is prepared: they need no installation.
  if (std::optional<ProgramAnswer> answer = AnswerProgramOption(argv)) {
    services::ToolMessageBox(CommandLineContext(), services::kMessageInformation, "%s", answer->text.c_str());
    return answer->status;
  }
  // The program's own options come off the front; the rest goes its specified way.
  LongOptions options;
  std::vector<std::string> rest;
  if (!ParseLongOptions(argv, &options, &rest)) PrintUsage(services::kMessageWarning);
  const bool own_options = rest.size() != argv.size();
  if (own_options && !LongOptionsFit(options, rest)) PrintUsage(services::kMessageWarning);
  SetCurrentLongOptions(options);
  argv.swap(rest);
  // On a terminal, long repairs show one status line instead of every project.
  static TerminalProgress terminal_progress(options.verbose);
  if (platform::Terminal::OutIsTerminal()) CommandLineContext().SetProgress(&terminal_progress);

  (void)env->SetEnv("VEKLOG", "sysadm");
  if (argv.size() == 1 && strcasecmp(env->GetEnv("VEKLOG").c_str(), "sysadm") != 0) return 0;

  EnterWorkFolder(env);

  switch (argv.size()) {
    case 1: return RunWithoutArguments(env, options);
    case 2:
    case 3:
    case 4:
      InitialiseLibrary(options.json && argv.size() >= 3 ? &argv[1] : nullptr);
      ArmShareDeadline();
      if (options.dry_run) return RunDryRun(argv);
      {
        const int rc = DispatchCommandLine(argv);
        if (rc != 0) ReportFailedShareCall(CommandLineContext());
        return rc;
      }
    default: PrintUsage(services::kMessageWarning);
  }
}

int ProgramMain(int argc, char** argv) {
  platform::Terminal::CaptureOriginalStreams();
  platform::InstallFaultInjectionFromEnvironment();
  platform::InstallCrashHandlers(ExceptionReport);
  return CommandLineMain(std::vector<std::string>(argv, argv + argc));
}

}  // namespace dovrane::app

#include "app/window_program.h"

#include <cstring>

#include "app/projects/app_state.h"
#include "extlib/installation/operation_context.h"
#include "platform/env.h"
#include "platform/program_handover.h"
#include "platform/shared_library.h"
#include "platform/terminal.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {

bool IsFile(const std::string& path) {
  platform::FileInfo info;
  return platform::CurrentEnv()->Stat(path, &info, true) == 0 && info.type == platform::EntryType::kFile;
}

}  // namespace

std::string FindWindowProgram(const std::string& program_folder, const std::string& installed_folder) {
  if (program_folder.empty()) return "";
  for (const std::string& folder : {program_folder, program_folder + "/" + installed_folder}) {
    const std::string file = folder + "/" + kWindowProgramName;
    if (IsFile(file)) return file;
  }
  return "";
}

int RunWindowProgram(const std::string& installed_folder, char* const* argv) {
  const std::string file = FindWindowProgram(platform::ProgramFolder(), installed_folder);
  if (file.empty()) {
    services::ToolMessageBox(extlib::DefaultContext(), services::kMessageError,
                             "The main window is not installed (%s is missing).\n", kWindowProgramName);
    return 1;
  }
  // The run so far went to the work folder and sent its streams to the trace
  // file; the window's program does both again from where the run began.
  const std::string work = [] {
    std::string folder;
    (void)platform::CurrentEnv()->GetCwd(&folder);
    return folder;
  }();
  if (!StartFolder().empty()) (void)platform::CurrentEnv()->ChDir(StartFolder());
  platform::Terminal::RestoreOriginalStreams();
  const int error = platform::HandOverTo(file, argv);
  // Still here: back in the work folder; the message goes to the streams the
  // run began with.
  (void)platform::CurrentEnv()->ChDir(work);
  services::ToolMessageBox(extlib::DefaultContext(), services::kMessageError,
                           "The main window cannot be started (%s): %s\n", file.c_str(), std::strerror(error));
  return 1;
}

}  // namespace dovrane::app

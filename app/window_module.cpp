#include "app/window_module.h"

#include "platform/env.h"
#include "platform/shared_library.h"
#include "services/tool_message_box.h"

namespace dovrane::app {

namespace {

bool IsFile(const std::string& path) {
  platform::FileInfo info;
  return platform::CurrentEnv()->Stat(path, &info, true) == 0 && info.type == platform::EntryType::kFile;
}

}  // namespace

std::string FindWindowModule(const std::string& program_folder, const std::string& installed_folder) {
  if (program_folder.empty()) return "";
  for (const std::string& folder : {program_folder, program_folder + "/" + installed_folder}) {
    const std::string file = folder + "/" + kWindowModuleName;
    if (IsFile(file)) return file;
  }
  return "";
}

int RunWindowModule(const std::string& installed_folder) {
  const std::string file = FindWindowModule(platform::ProgramFolder(), installed_folder);
  if (file.empty()) {
    services::ToolMessageBox(services::kMessageError, "The main window is not installed (%s is missing).\n",
                             kWindowModuleName);
    return 1;
  }
  static platform::SharedLibrary module(file);
  using Entry = int (*)();
  auto entry = reinterpret_cast<Entry>(module.Symbol(kWindowModuleEntry));
  if (!entry) {
    services::ToolMessageBox(services::kMessageError, "The main window cannot be loaded: %s\n",
                             module.error().c_str());
    return 1;
  }
  return entry();
}

}  // namespace dovrane::app

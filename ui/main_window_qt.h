// The dialog mode's window put together: the main dialog, the two trees'
// logic, the ping thread and the messenger that shows the core's questions
// over the window.
#pragma once

#include <memory>

#include "ui/dovrane_dlg.h"
#include "ui/gui_messenger_qt.h"
#include "ui/ping_thread.h"

namespace dovrane::tree {
class ProjectTrees;
}

namespace dovrane::ui {

class TreeCommands;
class TreeTransfer;
class HostCommands;

class MainWindow {
 public:
  MainWindow();
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  CDovraneDlg& dialog() { return *dialog_; }
  tree::ProjectTrees& trees() { return *trees_; }
  TreeCommands& commands() { return *commands_; }
  TreeTransfer& transfer() { return *transfer_; }
  GuiMessenger& messenger() { return messenger_; }
  HostCommands& hostCommands() { return *host_commands_; }

 private:
  CDovraneDlg::TreeHooks Hooks();

  GuiMessenger messenger_;
  platform::Messenger* previous_messenger_ = nullptr;
  std::unique_ptr<PingThread> ping_;
  std::unique_ptr<tree::ProjectTrees> trees_;
  std::unique_ptr<CDovraneDlg> dialog_;
  std::unique_ptr<TreeCommands> commands_;
  std::unique_ptr<TreeTransfer> transfer_;  // mark, paste, drop
  std::unique_ptr<HostCommands> host_commands_;
};

}  // namespace dovrane::ui

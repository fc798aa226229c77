// The dialog mode's window put together: the main dialog, the two trees'
// logic, the ping thread and the messenger that shows the core's questions
// over the window.
#pragma once

#include <memory>

#include "ui/dovrane_dlg.h"
#include "services/gui_messenger_qt.h"
#include "ui/ping_thread.h"
#include "ui/search_dlg.h"

namespace dovrane::tree {
class HostCommands;
class ProjectTrees;
class TreeCommands;
class TreeTransfer;
}  // namespace dovrane::tree

namespace dovrane::ui {

class MainWindow {
 public:
  MainWindow();
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  CDovraneDlg& dialog() { return *dialog_; }
  tree::ProjectTrees& trees() { return *trees_; }
  tree::TreeCommands& commands() { return *commands_; }
  tree::TreeTransfer& transfer() { return *transfer_; }
  services::GuiMessenger& messenger() { return messenger_; }
  tree::HostCommands& hostCommands() { return *host_commands_; }
  // The search under way (the search button's walk over the host tree), or null.
  TreeSearch* search() const { return search_ && search_->Running() ? search_.get() : nullptr; }

 private:
  CDovraneDlg::TreeHooks Hooks();
  // The search button: walks the host tree for the search text, with the
  // button disabled and the refresh check stopped until the walk ends.
  void StartSearch();

  services::GuiMessenger messenger_;
  platform::Messenger* previous_messenger_ = nullptr;
  std::unique_ptr<PingThread> ping_;
  std::unique_ptr<tree::ProjectTrees> trees_;
  std::unique_ptr<CDovraneDlg> dialog_;
  std::unique_ptr<tree::TreeCommands> commands_;
  std::unique_ptr<tree::TreeTransfer> transfer_;  // mark, paste, drop
  std::unique_ptr<tree::HostCommands> host_commands_;
  std::unique_ptr<TreeSearch> search_;  // the last search, kept until the next or the window's end
};

}  // namespace dovrane::ui

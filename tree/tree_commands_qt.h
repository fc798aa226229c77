// The commands on the trees' items: the context menu of each tree built for
// the item kind and what the window knows, the keys Delete, F2 and F5, and
// the project commands (properties, delete, rename in place, new project,
// lock file deletion, check-out mark removal, single-project check-out and
// check-in). The
// disk and network work of each runs on a worker; size and delete show the
// progress window. Marking and paste and the host commands are handed to
// their owners' handlers.
#pragma once

#include <QModelIndex>
#include <QObject>
#include <QPersistentModelIndex>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tree/item_commands.h"
#include "tree/tree_command_work.h"

class QMenu;
class QPoint;

namespace dovrane::tree {
class CDovraneTreeCtrl;
class ProjectTrees;
class TreeWindow;
}  // namespace dovrane::tree

namespace dovrane::services {
class GuiMessenger;
class OperationWorker;
class ProgressRun;
}  // namespace dovrane::services

namespace dovrane::tree {


class TreeCommands : public QObject {
  Q_OBJECT

 public:
  // A command handed on, with the item it is for (invalid: the empty area
  // of the project tree, which stands for the current host).
  using ItemHandler = std::function<void(uint32_t id, QModelIndex item)>;

  // window: the main window, which outlives the commands.
  TreeCommands(tree::TreeWindow* window, tree::ProjectTrees* trees, services::GuiMessenger* messenger,
               QObject* parent = nullptr);
  ~TreeCommands() override;

  // Host check-out and check-in (255, 254), adding and removing data
  // servers (0xFFFF0815..17).
  void SetHostCommandHandler(ItemHandler handler) { host_handler_ = std::move(handler); }
  // Mark for moving, mark for copying, paste (2, 3, 4).
  void SetTransferHandler(ItemHandler handler) { transfer_handler_ = std::move(handler); }
  // Whether a copy or a move is pending (enables paste).
  void SetTransferPending(std::function<bool()> pending) { transfer_pending_ = std::move(pending); }
  // The ping of the properties command (tests); null: the library's.
  void SetPing(CommandPing ping) { ping_ = std::move(ping); }

  // The menu for the tree as it stands: its selection, the clicked-empty flag
  // of the host tree, Ctrl, and the commands a running one rules out.
  std::vector<tree::MenuEntry> MenuEntries(tree::CDovraneTreeCtrl* tree, bool ctrl_held) const;
  // The context menu at pos (viewport coordinates): the right click selects
  // the item under it first. Returns when the menu closed and the chosen
  // command was started.
  void ContextMenu(tree::CDovraneTreeCtrl* tree, const QPoint& pos, bool ctrl_held);
  // Runs command id for the tree's selected item (as the menu does).
  // On the tree's current row (its empty area when the host tree's was clicked).
  void RunCommand(tree::CDovraneTreeCtrl* tree, uint32_t id);
  void RunCommand(tree::CDovraneTreeCtrl* tree, uint32_t id, const QModelIndex& item);
  // The search row's new-project button: a new project on the data path's host.
  void RunNewProjectButton();
  // False while a running command rules id out.
  bool Enabled(uint32_t id) const;
  // A command runs on a worker (the trees stay readable meanwhile).
  bool Busy() const;

 signals:
  // A command that ran on a worker has ended (window thread).
  void commandFinished(uint32_t id, int result);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Target;
  Target TargetOf(tree::CDovraneTreeCtrl* tree, const QModelIndex& item) const;
  std::string HostOf(tree::CDovraneTreeCtrl* tree, const QModelIndex& item) const;
  // The host the search row shows, in the installation's code page.
  std::string DataPathHost() const;
  bool HostCheckedOut(const std::string& host) const;
  void Attach(tree::CDovraneTreeCtrl* tree);
  void OnKey(tree::CDovraneTreeCtrl* tree, int key);

  void Properties(tree::CDovraneTreeCtrl* tree, const QModelIndex& item);
  void ShowProperties(const PropertiesResult& result);
  void Delete(tree::CDovraneTreeCtrl* tree, const QModelIndex& item);
  bool BeginLabelEdit(tree::CDovraneTreeCtrl* tree, const QModelIndex& item);
  void EndLabelEdit(tree::CDovraneTreeCtrl* tree, const QPersistentModelIndex& item, const QString& text,
                    bool committed);
  void NewProject(tree::CDovraneTreeCtrl* tree, const std::string& host);
  bool EditNewProject(tree::CDovraneTreeCtrl* tree, const std::string& host, const std::string& name);
  void DeleteLockFile(const QModelIndex& item);
  void DeleteHostCheckoutFile(const std::string& host);
  void CheckOutProject(tree::CDovraneTreeCtrl* tree, const QModelIndex& item);
  void CheckInProject(tree::CDovraneTreeCtrl* tree, const QModelIndex& item);

  // Runs op on the short-command worker; done(result) in the window thread.
  bool RunShort(uint32_t id, std::function<int(extlib::OperationContext&)> op, std::function<void(int)> done);
  // Runs op with the progress window.
  bool RunLong(uint32_t id, const std::string& title, bool cancellable,
               std::function<int(extlib::OperationContext&)> op, std::function<void(int)> done);
  // After a command of the window changed the administration: the trees show it at once.
  void ShowChange();

  tree::TreeWindow* window_;
  tree::ProjectTrees* trees_;
  services::GuiMessenger* messenger_;
  ItemHandler host_handler_, transfer_handler_;
  std::function<bool()> transfer_pending_;
  CommandPing ping_;
  tree::CDovraneTreeCtrl* menu_tree_ = nullptr;  // whose menu is open
  bool host_tree_clicked_empty_ = false;
  bool label_permit_ = false;        // the one-shot permit of a new project's edit
  std::string label_before_;         // the label before editing
  uint32_t short_id_ = 0, long_id_ = 0;  // the commands running, 0 none
  std::function<void(int)> short_done_, long_done_;
  std::unique_ptr<services::OperationWorker> short_worker_;
  std::unique_ptr<services::ProgressRun> long_run_;
};

}  // namespace dovrane::tree

// Moving and copying a project between hosts from the trees: the marks for
// moving and copying, the paste onto a host, and the drop of a dragged free
// project (a move, with Ctrl a copy). Refusals are decided from what the
// trees show (tree/transfer_check.h); the copy's name is cut with the name-cut
// dialog when it grows past 50 characters; after the question the move or
// copy runs on a worker with the progress window, the outside-change flag
// cleared, and the trees are refilled as soon as it ends.
#pragma once

#include <QModelIndex>
#include <QObject>
#include <cstdint>
#include <string>

#include "tree/project_tree_model_qt.h"
#include "services/progress_run_qt.h"

namespace dovrane::tree {
class ProjectTrees;
class TreeWindow;
}  // namespace dovrane::tree

namespace dovrane::services {
class GuiMessenger;
}  // namespace dovrane::services

namespace dovrane::tree {


class TreeTransfer : public QObject {
  Q_OBJECT

 public:
  // The trees and the window outlive this object; it installs itself as the
  // model's drop handler.
  TreeTransfer(tree::ProjectTrees* trees, tree::TreeWindow* window, services::GuiMessenger* messenger, QObject* parent = nullptr);
  ~TreeTransfer() override;

  // The context menu's commands 2, 3 and 4 (other identifiers do nothing).
  void Run(uint32_t id, const QModelIndex& item);
  // Marks a free project; its image shows 14 while marked for moving. False
  // (with the refusal's message) for any other item.
  bool MarkForMove(const QModelIndex& item);
  bool MarkForCopy(const QModelIndex& item);
  // A copy or move is marked and no transfer runs: paste is offered.
  bool TransferPending() const;
  // Moves or copies the marked project onto the host item, or onto the
  // current host for no item. False when refused, declined or already
  // running; true when the run started (finished(result) follows).
  bool PasteOnto(const QModelIndex& host_item);
  // A move or copy is running on its worker.
  bool Busy() const { return run_.Running() || starting_; }

 signals:
  // The move or copy ended with the operation's result (0: done); the
  // trees' refill has been asked for.
  void finished(int result);

 private:
  struct Request {
    std::string name, source_host, target_host;
    bool copy = false;
    bool paste = false;
  };
  bool Mark(const QModelIndex& item, bool copy);
  bool HandleDrop(const tree::ProjectTreeModel::DraggedProject& project, const QModelIndex& target, bool copy,
                  bool perform);
  // The refusal for request (from the trees' kinds), or kNone.
  int Refusal(const Request& request, uint32_t* project_kind) const;
  bool Start(Request request);
  void End(int result);
  void ShowMark(bool marked);

  tree::ProjectTrees* trees_;
  tree::TreeWindow* window_;
  services::ProgressRun run_;
  // The transfer state: what is marked, for a move or a copy.
  bool cut_pending_ = false, copy_pending_ = false;
  std::string mark_name_, mark_host_;
  Request running_;
  bool starting_ = false;  // between the decision and the worker's start (the questions)
};

}  // namespace dovrane::tree

// The two trees' logic for the main window: owns the shared model, fills it
// from the administration off the window's thread, follows the selection and
// expansion of both views with the item checks (also off the window's
// thread), and gives the window what it shows: the current host, the status
// bar texts and the ping host list (once the hosts' checks have answered). The window calls Refill(data path) where
// the trees are to be filled, and ShowHost when only the project tree is.
#pragma once

#include <QObject>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tree/host_table.h"
#include "tree/item_checks.h"
#include "services/worker_runner.h"
#include "tree/project_tree_model_qt.h"

namespace dovrane::tree {

class CDovraneTreeCtrl;

class ProjectTrees : public QObject {
  Q_OBJECT

 public:
  static constexpr int kDefaultCheckTimeLimitMs = 2000;

  explicit ProjectTrees(QObject* parent = nullptr);
  ~ProjectTrees() override;

  ProjectTreeModel* model() { return &model_; }
  // host_tree has role 1 and shows every host; project_tree (role 0) shows
  // the current host's projects.
  void AttachViews(CDovraneTreeCtrl* host_tree, CDovraneTreeCtrl* project_tree);

  // Rebuilds the host table from the administration and refills both trees;
  // data_path: the search row's data path (the current host), "" for this
  // computer or else the administration host. Returns at once; refilled()
  // follows. A refill requested while one runs follows it (the running one
  // may have read the administration before the change that asked).
  void Refill(const std::string& data_path);
  // Only the project tree: it shows the host data_path names.
  void ShowHost(const std::string& data_path);
  bool Filling() const { return filling_; }

  void SetPingAllowed(bool allowed) { ping_allowed_ = allowed; }
  // For tests and the window: the ping and the time limit of each host's checks.
  void SetChecks(PingFunction ping, int time_limit_ms);
  // Called with the names to ping after each full refill (the ping thread's
  // list, published under its lock); returns false when the lock was busy.
  void SetPingPublisher(std::function<bool(std::vector<std::string>)> publish) { publish_ = std::move(publish); }
  // The project marked for moving (its image is 14 at the next refill).
  void SetMoveMark(MoveMark mark) { move_mark_ = std::move(mark); }
  const std::string& CurrentHost() const { return current_host_; }
  // The project mark map: numbers of projects whose directory could not be reached.
  const std::set<uint32_t>& Marks() const { return marks_; }
  // ShowItemInStatusBar's texts for an item of either tree.
  QStringList StatusBarTexts(const QModelIndex& item) const;
  // Checks started and not answered yet.
  int PendingChecks() const { return worker_ ? worker_->Pending() : 0; }

 signals:
  void refilled();
  // The current host changed (the search row's data path follows it).
  void currentHostChanged(const QString& host);
  // The status bar is to show these parts.
  void statusBarTextsChanged(const QStringList& parts);
  void hostChecked(const QString& host);
  void directoryChecked(const QString& project);

 private:
  struct FillResult;
  void ApplyFill(const std::shared_ptr<FillResult>& result);
  void OnHostResult(uint64_t serial, const HostCheckResult& result);
  void OnDirectoryResult(const DirectoryCheck& check);
  void OnCurrentChanged(CDovraneTreeCtrl* tree, const QModelIndex& item);
  void CheckDirectory(const QModelIndex& item);
  void ShowInStatusBar(const QModelIndex& item);
  void MakeWorker();

  ProjectTreeModel model_;
  CDovraneTreeCtrl* host_tree_ = nullptr;
  CDovraneTreeCtrl* project_tree_ = nullptr;
  std::string current_host_;
  std::string net_directory_;  // of the last fill, for the status bar
  std::set<uint32_t> marks_;
  MoveMark move_mark_;
  bool ping_allowed_ = true;
  bool selection_guard_ = false;  // set while the trees change their own selection
  std::function<bool(std::vector<std::string>)> publish_;
  std::atomic<bool> filling_{false};
  bool refill_pending_ = false;  // asked for while a fill ran
  std::string pending_data_path_;
  uint64_t serial_ = 0;  // of the table in the model
  int hosts_unchecked_ = 0;  // hosts of this table whose checks have not answered
  // The fill's reader: never waited for at close (the administration host may hang).
  services::WorkerRunner fill_runner_;
  PingFunction ping_;
  int time_limit_ms_ = kDefaultCheckTimeLimitMs;
  std::unique_ptr<ItemCheckWorker> worker_;  // last: ends first
};

}  // namespace dovrane::tree

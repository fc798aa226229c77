// The main window of the dialog mode: the tab page with the two trees and the
// search row, the "Check Out" and close buttons, the refresh and ping check
// boxes and the status bar. It polls for changes made from outside (the
// refresh check), keeps its placement and switches in the user settings and
// opens the help document. The trees' filling, the ping thread and the tree
// commands plug in through TreeHooks; the commands see the window as a
// tree::TreeWindow.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QModelIndex>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"
#include "services/worker_runner.h"
#include "tree/project_tree_model_qt.h"
#include "tree/tree_window_qt.h"
#include "ui/ping_thread.h"
#include "ui/refresh_check.h"

class QCheckBox;
class QLabel;
class QMenuBar;
class QPushButton;
class QStatusBar;

namespace dovrane::tree {
class CDovraneTreeCtrl;
}

namespace dovrane::ui {

class CDovraneTabCtrl;

class CDovraneDlg : public QDialog, public tree::TreeWindow {
  Q_OBJECT

 public:
  // Where the trees' logic, the ping thread and the commands plug in. Every
  // hook may be empty; then the window does without it.
  struct TreeHooks {
    // Fills both trees for the data path (a host name); the window's thread.
    std::function<void(const QString& data_path)> refill;
    // The refill above only starts the fill; its owner emits TreesFilled
    // when the trees hold the new items.
    bool refill_is_async = false;
    // Copies the trees' top-level items for the refresh check (and the kind
    // function, which runs on the worker).
    std::function<void(RefreshRequest* request)> snapshot;
    // The status bar's texts for an item (two or three parts).
    std::function<QStringList(tree::CDovraneTreeCtrl* tree, const QModelIndex& item)> status_texts;
    // The kind of the host tree's selected item (0: none).
    std::function<uint32_t()> selected_host_kind;
    // Host check-out (255) and check-in (254) on the host tree.
    std::function<void(int command)> host_command;
    // Starts the ping thread (false: it could not be started) and stops it
    // (returns once it has ended).
    std::function<bool(PingShared& shared)> start_ping;
    std::function<void()> stop_ping;
  };

  // Menu identifier of the "About" item.
  static constexpr int kAboutCommand = 16;
  static constexpr int kCheckOutCommand = 255;
  static constexpr int kCheckInCommand = 254;

  explicit CDovraneDlg(QWidget* parent = nullptr);
  explicit CDovraneDlg(TreeHooks hooks, QWidget* parent = nullptr);
  ~CDovraneDlg() override;

  // The refresh check: with a non-zero argument (or a change found) the trees
  // are refilled. Its look-ups run on a worker; the answer is applied when it
  // comes back. Other commands call it with 0 after their own changes.
  void RefreshCheck(int ping_changed) override;
  void RefillTrees(const QString& data_path) override;
  // The status bar for an item of a tree; tree null: for the data path.
  void ShowItemInStatusBar(tree::CDovraneTreeCtrl* tree, const QModelIndex& item);
  // Sets the status bar's parts (two or three), each as wide as its text.
  void SetStatusParts(const QStringList& texts);
  // The refresh button of the search row.
  void OnRefreshButton();
  // The "Check Out" button.
  void OnCheckOut();
  // F1.
  void OnHelp();
  // The close button.
  void OnClose();
  // Timer 1 (the refresh check): long commands stop it and start it again
  // with 4000 ms when they end.
  void StopRefreshTimer() override { timer1_.stop(); }
  void StartRefreshTimer() override;

  CDovraneTabCtrl* TabCtrl() const { return tab_; }
  tree::ProjectTreeModel* Model() { return &model_; }
  const QList<QIcon>& TreeImages() const { return tree_images_; }
  QPushButton* CloseButton() const { return close_button_; }
  QPushButton* CheckOutButton() const override { return check_out_button_; }
  QCheckBox* RefreshCheckBox() const { return refresh_check_; }
  QCheckBox* PingCheckBox() const { return ping_check_; }
  QStatusBar* StatusBar() const { return status_bar_; }
  QStringList StatusTexts() const;
  QMenuBar* MenuBar() const { return menu_bar_; }
  const QString& LocalComputerName() const { return computer_name_; }
  RefreshCheckState& RefreshState() { return refresh_state_; }
  bool RefreshCheckRunning() const { return probe_running_; }

  // Shared with the ping thread and the tree commands (plain flags, no lock).
  // The flags and the ping host list the ping thread shares.
  PingShared ping_shared;
  std::atomic<int>& ping_allowed = ping_shared.ping_allowed;
  std::atomic<bool>& ping_changed = ping_shared.ping_changed;
  std::atomic<int> closing{0};
  std::atomic<int> stop{0};
  // Cleared by commands while they write the administration themselves.
  std::atomic<int> outside_change{1};

  // What the commands on the trees see of the window (tree::TreeWindow).
  QWidget* CommandParent() override { return this; }
  tree::CDovraneTreeCtrl* HostTree() const override;
  tree::CDovraneTreeCtrl* ProjectTree() const override;
  QString DataPath() const override;
  void SetDataPath(const QString& host) override;
  void RequestRefill() override;
  void RefreshCheckAfterChange() override;
  std::atomic<int>& PingAllowed() override { return ping_allowed; }
  std::atomic<int>& OutsideChange() override { return outside_change; }
  extlib::OperationContext& Context() override { return context_; }

 signals:
  // The trees were filled (the first time and after every refill).
  void TreesFilled();
  // A refresh check's answer was applied.
  void RefreshCheckDone(int action);

 protected:
  // Escape never closes the window; only the close button and the close box do.
  void reject() override {}
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  extlib::OperationContext context_{extlib::ProcessInstallation()};
  enum class ProbePurpose { kCheck, kRecordOnly, kFirstFill };

  void InitDialog();
  void CreateHelpMenu();
  void CreateButtons(int below);
  void CreateSwitches(int below);
  void CreateStatusBar();
  void BuildTreeImages();
  void OnTimer1();
  void OnTimer2();
  void StartProbe(ProbePurpose purpose, int ping_changed);
  void ApplyProbe(ProbePurpose purpose, int ping_changed, const RefreshRequest& request, const RefreshProbe& probe);
  void ApplyHelp(bool found, const std::string& path, bool exists);
  void StopPinging();
  void SavePlacementAndSwitches();
  void RestorePlacement();
  void EndDialog();
  void ShowAbout();
  // Runs `work` on a worker of its own (the disk may hang there).
  void StartWorker(std::function<std::function<void()>(extlib::OperationContext&)> work);

  TreeHooks hooks_;
  tree::ProjectTreeModel model_;
  QMenuBar* menu_bar_ = nullptr;
  QPushButton* close_button_ = nullptr;
  QPushButton* check_out_button_ = nullptr;
  CDovraneTabCtrl* tab_ = nullptr;
  QString computer_name_;
  QStatusBar* status_bar_ = nullptr;
  QList<QLabel*> status_parts_;
  QList<QIcon> tree_images_;
  QCheckBox* refresh_check_ = nullptr;
  QCheckBox* ping_check_ = nullptr;
  QTimer timer1_;
  QTimer timer2_;
  int margin_ = 0;
  int top_ = 0;  // the menu bar's height above the tab control
  int bottom_difference_ = 0;
  int previous_width_ = 0;
  int previous_height_ = 0;
  bool ping_running_ = false;
  bool stopped_ = false;

  RefreshCheckState refresh_state_;
  uint64_t tree_generation_ = 0;
  bool probe_running_ = false;
  // A check asked for while one ran: its ping-changed value, -1 for none.
  int pending_check_ = -1;
  // The look-ups at the disk (they hold only copies): left behind at the end
  // when a share hangs.
  services::WorkerRunner workers_;
};

// The running main window, or null (set by the dialog mode).
CDovraneDlg* MainDialog();
void SetMainDialog(CDovraneDlg* dialog);

}  // namespace dovrane::ui

// The main window as the commands on its trees see it: the two trees, the
// search row's data path, the check-out button, the refresh check and the
// flags it shares with the commands. The commands live below the window, so
// they reach it only through this.
#pragma once

#include <QString>
#include <atomic>

class QPushButton;
class QWidget;

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::tree {

class CDovraneTreeCtrl;

class TreeWindow {
 public:
  // The parent of the commands' dialogs, questions and progress windows.
  virtual QWidget* CommandParent() = 0;
  virtual CDovraneTreeCtrl* HostTree() const = 0;
  virtual CDovraneTreeCtrl* ProjectTree() const = 0;
  // The search row's data path: the host the trees show.
  virtual QString DataPath() const = 0;
  // Shows host in the search row, its buttons enabled.
  virtual void SetDataPath(const QString& host) = 0;
  // Fills both trees for data_path now.
  virtual void RefillTrees(const QString& data_path) = 0;
  // A refill as if the refresh button were pressed, once control returns to
  // the event loop (asked for while a command still runs).
  virtual void RequestRefill() = 0;
  // The refresh check (ping_changed 0: refills only for a change it finds).
  virtual void RefreshCheck(int ping_changed) = 0;
  // A command of the window changed the administration: the refresh check
  // runs now and refills the trees.
  virtual void RefreshCheckAfterChange() = 0;
  // The refresh check's timer: long commands stop it and start it again when
  // they end.
  virtual void StopRefreshTimer() = 0;
  virtual void StartRefreshTimer() = 0;
  // The "Check Out" button (its text and enabling follow the host tree).
  virtual QPushButton* CheckOutButton() const = 0;
  // The ping check box's flag, shared with the ping thread; commands that
  // must not be disturbed take it and give it back.
  virtual std::atomic<int>& PingAllowed() = 0;
  // 1 while every change of the administration comes from outside; commands
  // clear it while they write the administration themselves.
  virtual std::atomic<int>& OutsideChange() = 0;
  // The window's own context, for what its own thread shows and asks: the
  // program's installation, the current messenger, no progress. Work on a
  // worker gets a context of its own.
  virtual extlib::OperationContext& Context() = 0;

 protected:
  ~TreeWindow() = default;
};

}  // namespace dovrane::tree

// The host commands of the trees and the "Check Out" button: check a host out
// (255) or in (254), release a project that went out with its host (254),
// remove a stale host check-out mark (2069), add a data server or this
// computer (0xFFFF0815, 0xFFFF0817) and remove a host (0xFFFF0816). Each
// checks its preconditions, gathers what it needs on a worker with the wait
// cursor (the window's thread never looks at a share), asks the check-out's
// two dialogs in the window's thread, runs the check-out or check-in on a
// worker with the progress window, and refills the trees after. The button's
// text and enabling follow the host tree's selection.
#pragma once

#include <QModelIndex>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "checkout/checkin_report.h"
#include "checkout/checkout.h"
#include "checkout/checkout_info_file.h"
#include "checkout/unfinished_checkout.h"
#include "tree/host_commands.h"

class QWidget;

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::tree {
class ProjectTrees;
class TreeWindow;
}  // namespace dovrane::tree

namespace dovrane::services {
class GuiMessenger;
class OperationWorker;
class ProgressRun;
}  // namespace dovrane::services

namespace dovrane::tree {


// The text of the box that shows a host's check-in report in the window's
// language (finished: the check-in was one cut short before).
std::string CheckinReportBoxText(const checkout::CheckinReport& report, bool finished);

class HostCommands : public QObject {
  Q_OBJECT

 public:
  // The host check-in (mode 0 host); 1 when it went through.
  using CheckInFunction =
      std::function<int(extlib::OperationContext& ctx, int mode, const std::vector<checkout::CheckoutEntry>& list)>;
  // The host check-out (mode 0 host) with the dialogs' answers; 1 when it went through.
  using CheckOutFunction = std::function<int(extlib::OperationContext& ctx, int mode,
                                             const std::vector<checkout::CheckoutEntry>& list,
                                             const checkout::CheckoutAnswers& answers)>;
  // The data-server browse dialog (1 and the chosen path, or 0).
  using BrowseFunction = std::function<int(QString* path, QWidget* parent, int mode, int* created)>;

  // window: the main window, which outlives the commands. messenger: the window's (its boxes show over the window while a worker waits).
  HostCommands(tree::TreeWindow* window, tree::ProjectTrees* trees, services::GuiMessenger* messenger, QObject* parent = nullptr);
  ~HostCommands() override;

  // Carries out command id on item (an item of either tree; invalid: none).
  // Returns at once; commandEnded(id) follows when it has ended. A command
  // given while another runs is ignored.
  void Run(uint32_t id, const QModelIndex& item);
  // The button: 255 or 254 on the host tree's selected item.
  void RunOnSelectedHost(int command);
  // The search row's path button: a data path chosen in the browse dialog
  // and registered; the window then shows that server.
  void RunPathButton();
  bool Busy() const { return busy_ != 0; }

  // Empty (the default): the check-in says it is not available.
  void SetCheckIn(CheckInFunction check_in) { check_in_ = std::move(check_in); }
  void SetBrowse(BrowseFunction browse) { browse_ = std::move(browse); }
  // checkout::CheckOut unless set (a test's kill runs count its calls).
  void SetCheckOut(CheckOutFunction check_out) { check_out_ = std::move(check_out); }

  // The button's text (check out, or check in while this computer's host
  // check-out information file exists) and enabling (a host named like this
  // computer, not the administration host, is selected).
  void UpdateButton();

 signals:
  void commandEnded(quint32 id);

 private:
  // Runs work on the gathering worker with the wait cursor; its answer runs
  // in the window's thread afterwards.
  void OffThread(std::function<std::function<void()>(extlib::OperationContext&)> work);
  void Gathered();
  void End();

  void CheckOutHost(const QModelIndex& host);
  // After the look for a check-out of this host cut short: the question to
  // finish or take it back, or the check-out's first question.
  void CheckOutAsked(const QModelIndex& host, checkout::Unfinished unfinished);
  void CheckOutListed(const QModelIndex& host, const std::string& containers, const HostListResult& result,
                      bool finish_cut_short);
  void TakeBack(const std::string& host);
  // finishing: a check-in cut short (InstallRoot\CheckingInPath) is finished.
  void CheckIn(const QModelIndex& item, uint32_t kind, bool finishing = false);
  void CheckInListed(const QModelIndex& host, const HostListResult& result, bool finishing);
  // What came back with a host: the check-in report's first lines; finished:
  // it finished a check-in cut short, and says so.
  void ShowCheckinReport(const checkout::CheckinReport& report, bool finished);
  void Refused(const QModelIndex& host, int row, unsigned reason_item);
  // from_path_button: the window then shows the registered server.
  void AddDataServer(int mode, bool from_path_button = false);
  void RemoveHost(const std::string& host);
  // Starts a long operation with the progress window; then() gets its result.
  void RunLong(const std::string& title, std::function<int(extlib::OperationContext&)> operation,
               std::function<void(int)> then);
  std::vector<HostChild> Children(const QModelIndex& host) const;
  std::string Text(const QModelIndex& item) const;

  tree::TreeWindow* window_;
  tree::ProjectTrees* trees_;
  services::GuiMessenger* messenger_;
  CheckInFunction check_in_;
  CheckOutFunction check_out_;
  BrowseFunction browse_;
  uint32_t busy_ = 0;  // the running command
  bool timer_stopped_ = false;
  bool button_held_ = false;  // disabled while a check-out or check-in runs
  int ping_was_ = -1;         // the ping-allowed flag to give back, -1: none taken
  std::shared_ptr<std::function<void()>> next_;
  std::unique_ptr<services::ProgressRun> run_;
  std::function<void(int)> after_run_;
  std::unique_ptr<services::OperationWorker> gather_;  // last: stops first
};

}  // namespace dovrane::tree

// The main window in a process of its own, driven as a person drives it, so
// that the kill runs can end it at any call of the host check-out or check-in
// that its "Check Out" button starts:
//   window_probe press [ANSWER...]
// opens the window on the installation the environment names, selects this
// computer's host, presses the button and answers the boxes in order (ANSWER:
// yes, no or cancel; later boxes get Yes or OK), confirming the comment and
// office-standard dialogs. Prints each box as "box: <text>" (line feeds as
// "|"), and with DOVRANE_FAULT the calls the check-out or check-in made on
// its worker ("calls: open write sync rename close unlink mkdir"). Exit status
// 0 when the command ended, 2 when it did not within the time, 22 for usage.
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <deque>
#include <string>
#include <thread>

#include "checkout/checkin.h"
#include "checkout/checkout.h"
#include "checkout/checkout_comment_dlg.h"
#include "checkout/std_copy_dlg.h"
#include "extlib/installation/library_init.h"
#include "platform/fault_injection_env.h"
#include "platform/system_names.h"
#include "platform/terminal.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/project_tree_model_qt.h"
#include "tree/project_trees_qt.h"
#include "ui/dovrane_tab_ctrl.h"
#include "tree/host_commands_qt.h"
#include "ui/main_window_qt.h"

int main(int argc, char** argv) {
  using namespace dovrane;
  platform::Terminal::CaptureOriginalStreams();
  platform::FaultInjectionEnv* fault = platform::InstallFaultInjectionFromEnvironment();
  // Only the operation's worker counts: the window's own look-ups vary from run to run.
  if (fault) fault->CountOnlyThread(std::thread::id());
  if (argc < 2 || std::string(argv[1]) != "press") return 22;
  std::deque<QMessageBox::StandardButton> answers;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a != "yes" && a != "no" && a != "cancel") return 22;
    answers.push_back(a == "yes" ? QMessageBox::Yes : a == "no" ? QMessageBox::No : QMessageBox::Cancel);
  }
  int mode = 2;
  if (extlib::lzinit(extlib::DefaultContext(), &mode, 0, 0, 0, 0, 0) != 0) return 1;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qt_argc = 1;
  QApplication app(qt_argc, argv);

  ui::MainWindow window;
  ui::CDovraneDlg& dialog = window.dialog();
  tree::HostCommands& commands = window.hostCommands();
  commands.SetCheckOut([fault](extlib::OperationContext& ctx, int m, const std::vector<checkout::CheckoutEntry>& list,
                               const checkout::CheckoutAnswers& given) {
    if (fault) fault->CountOnlyThread(std::this_thread::get_id());
    return checkout::CheckOut(ctx, m, list, given);
  });
  commands.SetCheckIn([fault](extlib::OperationContext& ctx, int m, const std::vector<checkout::CheckoutEntry>& list) {
    if (fault) fault->CountOnlyThread(std::this_thread::get_id());
    return checkout::CheckIn(ctx, m, list);
  });
  // The sample's hosts are made up: no pinging, as the person switches it off.
  if (dialog.PingCheckBox()->isChecked()) dialog.PingCheckBox()->click();
  QSignalSpy filled(&dialog, &ui::CDovraneDlg::TreesFilled);
  dialog.show();
  if (!QTest::qWaitFor([&] { return filled.count() >= 1 && window.trees().PendingChecks() == 0; }, 30000)) return 2;

  // The boxes and dialogs, answered as they come.
  std::string shown;
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (box->property("answered").toBool()) return;
      box->setProperty("answered", true);
      shown += "box: " + box->text().replace('\n', '|').toStdString() + "\n";
      QMessageBox::StandardButton answer = QMessageBox::Yes;
      if (!answers.empty()) answer = answers.front(), answers.pop_front();
      QAbstractButton* button = box->button(answer);
      if (!button) button = box->button(QMessageBox::Ok);
      if (button) QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    } else if (auto* comment = qobject_cast<checkout::CCheckoutCommentDlg*>(modal)) {
      comment->accept();
    } else if (auto* standard = qobject_cast<checkout::CDovraneStdCopyDlg*>(modal)) {
      standard->accept();  // waits until the sizes are measured
    }
  });
  answerer.start(10);

  tree::CDovraneTreeCtrl* hosts = dialog.TabCtrl()->HostTree();
  hosts->SelectItem(window.trees().model()->HostIndex(platform::ComputerName()));
  QTest::qWait(0);
  QSignalSpy ended(&commands, &tree::HostCommands::commandEnded);
  QTest::mouseClick(dialog.CheckOutButton(), Qt::LeftButton);
  const bool done = QTest::qWaitFor([&] { return ended.count() >= 1; }, 120000);
  std::string out = shown;
  if (fault) {
    out += "calls:";
    for (int p = 0; p < static_cast<int>(platform::FaultPoint::kCount); ++p)
      out += " " + std::to_string(fault->Calls(static_cast<platform::FaultPoint>(p)));
    out += "\n";
  }
  platform::Terminal::WriteOut(out);
  return done ? 0 : 2;
}

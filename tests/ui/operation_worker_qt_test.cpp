#include "ui/operation_worker_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "fileops/directory_delete.h"
#include "platform/fault_injection_env.h"
#include "platform/messenger.h"
#include "services/ui_text_test_env.h"
#include "support/recording_messenger.h"
#include "support/temp_dir.h"
#include "ui/gui_messenger_qt.h"
#include "ui/progress_run_qt.h"
#include "ui/progress_window_dlg.h"

namespace dovrane::ui {
namespace {

constexpr int kInterrupted = -11;

// Waits (bounded) until the operation is cancelled, as an operation polls.
bool WaitForCancel(extlib::OperationContext& ctx) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ctx.Cancelled() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  return ctx.Cancelled();
}

// Presses a button of the modal box as soon as it is up.
void PressWhenShown(GuiMessenger& messenger, QMessageBox::StandardButton button, QThread** shown_in) {
  QObject::connect(&messenger, &GuiMessenger::boxShown, [button, shown_in](QMessageBox*) {
    *shown_in = QThread::currentThread();
    QTimer::singleShot(0, [button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      box->button(button)->click();
    });
  });
}

TEST(OperationWorkerTest, CancelReachesTheOperationInItsOwnBoundContext) {
  testing::RecordingMessenger recorder;
  OperationWorker worker(&recorder);
  std::atomic<bool> started{false};
  QSignalSpy spy(&worker, &OperationWorker::finished);
  ASSERT_TRUE(worker.Start([&](extlib::OperationContext& ctx) {
    bool bound = &extlib::ActiveContext() == &ctx && &ctx.Messenger() == &recorder && ctx.interactive == 0;
    started = true;
    return !bound ? 1 : WaitForCancel(ctx) ? kInterrupted : 0;
  }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 5000));
  EXPECT_FALSE(worker.Start([](extlib::OperationContext&) { return 0; }));  // one at a time
  worker.Cancel();
  ASSERT_TRUE(spy.wait(5000));
  EXPECT_EQ(spy.at(0).at(0).toInt(), kInterrupted);
  EXPECT_FALSE(worker.Running());
}

TEST(OperationWorkerTest, CancelButtonStopsADeletionBeforeItsFirstEntry) {
  testing::TempDir dir;
  dir.Write("n0000012.prj/plan.dwg", "x");
  GuiMessenger messenger;
  ProgressRun run(nullptr, &messenger);
  std::atomic<bool> started{false};
  QSignalSpy spy(&run, &ProgressRun::finished);
  ASSERT_TRUE(run.Start("L\xf6schen", true, [&](extlib::OperationContext& ctx) {
    started = true;
    WaitForCancel(ctx);
    return fileops::DeleteDirectoryTree(ctx, nullptr, dir / "n0000012.prj") ? 1 : 0;
  }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 5000));
  QPointer<CProgressWindow> window = run.window();
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
  ASSERT_TRUE(spy.wait(5000));
  EXPECT_EQ(spy.at(0).at(0).toInt(), 0);
  EXPECT_TRUE(dir.Exists("n0000012.prj/plan.dwg"));  // stopped cleanly: nothing half done
  // Deleted, not just hidden: no closed "Progress" window is left for screen readers.
  EXPECT_EQ(run.window(), nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 5000));
}

TEST(OperationWorkerTest, QuestionFromTheWorkerIsAnsweredInTheWindowThread) {
  services::testing::UiTextEnv texts;
  testing::TempDir dir;
  dir.Write("n0000012.prj/plan.dwg", "x");
  platform::FaultInjectionEnv env;
  env.Arm(platform::FaultPoint::kUnlink, 1, EACCES);  // the file resists once
  platform::Env* previous = platform::SetCurrentEnv(&env);
  GuiMessenger messenger;
  QThread* shown_in = nullptr;
  PressWhenShown(messenger, QMessageBox::Retry, &shown_in);
  OperationWorker worker(&messenger);
  QSignalSpy spy(&worker, &OperationWorker::finished);
  worker.Start([&](extlib::OperationContext& ctx) {
    return fileops::DeleteDirectoryTree(ctx, nullptr, dir / "n0000012.prj") ? 1 : 0;
  });
  ASSERT_TRUE(spy.wait(5000));
  platform::SetCurrentEnv(previous);
  EXPECT_EQ(spy.at(0).at(0).toInt(), 1);  // Retry deleted it
  EXPECT_EQ(shown_in, QApplication::instance()->thread());
  EXPECT_FALSE(dir.Exists("n0000012.prj"));
}

TEST(OperationWorkerTest, ClosingWhileAQuestionWaitsAnswersItAndShowsNoBox) {
  GuiMessenger messenger;
  std::atomic<int> answer{-1};
  std::atomic<bool> asking{false};
  {
    OperationWorker worker(&messenger);
    worker.Start([&](extlib::OperationContext& ctx) {
      asking = true;
      answer = ctx.Messenger().MessageBox("Weiter?", "", platform::kMbYesNo | platform::kMbIconQuestion);
      return 0;
    });
    // No turn of the event loop here: the box must not come up before the close.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!asking.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  }  // the worker is destroyed while its question waits: this must not hang
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(answer.load(), 0);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace dovrane::ui

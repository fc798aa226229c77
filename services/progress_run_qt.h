// One long operation of the window with its progress window: the window shows
// while the operation runs on a worker, Cancel (where offered) reaches the
// operation's context, the messenger's notices and lines go to the window,
// and finished(result) comes in the window's thread after the window closed.
#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "services/operation_worker_qt.h"
#include "services/window_progress.h"

class QWidget;

namespace dovrane::services {

class CProgressWindow;
class GuiMessenger;

// How long after Cancel the progress window waits for the operation to stop
// before it goes without it.
inline constexpr int kCancelVisibleMs = 100;

class ProgressRun : public QObject {
  Q_OBJECT

 public:
  // messenger null: the current messenger; a GuiMessenger sends its notices
  // and lines to the progress window while the run lasts.
  explicit ProgressRun(QWidget* owner, GuiMessenger* messenger = nullptr);
  ~ProgressRun() override;

  // Shows the progress window with title (Windows-1252) and runs operation;
  // cancellable offers Cancel, for operations that stop cleanly (the size
  // sum, a deletion between files, a copy whose caller rolls back). False
  // while a run is going on.
  bool Start(const std::string& title, bool cancellable, Operation operation);
  bool Running() const { return worker_.Running(); }
  // The run's progress window; null once the run has ended (the window is
  // deleted) or once Cancel has taken it down while the operation still runs.
  CProgressWindow* window() const { return window_.get(); }
  // Cancel was pressed and the operation did not stop within
  // kCancelVisibleMs (a call stuck on a hanging share): the progress window
  // went, the operation ends on its own and finished() still comes then.
  bool WindowGoneOnCancel() const { return window_gone_on_cancel_; }
  WindowProgress* progress() const { return progress_.get(); }

 signals:
  void finished(int result);

 private:
  void End(int result);
  void Cancelled();
  void TakeWindowDown();

  QWidget* owner_;
  GuiMessenger* messenger_;
  std::shared_ptr<WindowProgress> progress_;  // shared with the operation's thread
  std::unique_ptr<CProgressWindow> window_;
  bool window_gone_on_cancel_ = false;
  // Last, so that it is destroyed first: the operation stops before the
  // progress it reports to goes.
  OperationWorker worker_;
};

}  // namespace dovrane::services

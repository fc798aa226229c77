#include "services/progress_run_qt.h"

#include <QTimer>

#include "services/gui_messenger_qt.h"
#include "services/progress_window_dlg.h"

namespace dovrane::services {

ProgressRun::ProgressRun(QWidget* owner, GuiMessenger* messenger)
    : owner_(owner), messenger_(messenger), worker_(messenger) {
  connect(&worker_, &OperationWorker::finished, this, &ProgressRun::End);
}

ProgressRun::~ProgressRun() {
  if (messenger_) messenger_->SetActiveProgress(nullptr);
}

bool ProgressRun::Start(const std::string& title, bool cancellable, Operation operation) {
  if (worker_.Running()) return false;
  window_.reset();
  window_gone_on_cancel_ = false;
  progress_ = std::make_shared<WindowProgress>();
  progress_->Title(title);
  window_ = std::make_unique<CProgressWindow>(progress_.get(), owner_);
  window_->SetCancellable(cancellable);
  connect(window_.get(), &CProgressWindow::cancelRequested, this, &ProgressRun::Cancelled);
  if (messenger_) messenger_->SetActiveProgress(progress_.get());
  window_->show();
  return worker_.Start(std::move(operation), progress_);
}

void ProgressRun::End(int result) {
  if (window_) {
    window_->Refresh();
    window_->CloseFinished();
  }
  TakeWindowDown();
  emit finished(result);
}

void ProgressRun::Cancelled() {
  worker_.Cancel();
  // An operation stuck in a call on a hanging share sees the cancel only when
  // the call returns: the person is not kept waiting for that.
  QTimer::singleShot(kCancelVisibleMs, this, [this, window = window_.get()] {
    if (!worker_.Running() || window_.get() != window || !window) return;
    window_gone_on_cancel_ = true;
    window_->CloseFinished();
    TakeWindowDown();
  });
}

void ProgressRun::TakeWindowDown() {
  if (messenger_) messenger_->SetActiveProgress(nullptr);
  // Gone, not hidden: a closed window stays no part of the application
  // (screen readers list hidden windows too).
  if (window_) window_.release()->deleteLater();
}

}  // namespace dovrane::services

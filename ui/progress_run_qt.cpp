#include "ui/progress_run_qt.h"

#include "ui/gui_messenger_qt.h"
#include "ui/progress_window_dlg.h"

namespace dovrane::ui {

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
  progress_ = std::make_unique<WindowProgress>();
  progress_->Title(title);
  window_ = std::make_unique<CProgressWindow>(progress_.get(), owner_);
  window_->SetCancellable(cancellable);
  connect(window_.get(), &CProgressWindow::cancelRequested, &worker_, &OperationWorker::Cancel);
  if (messenger_) messenger_->SetActiveProgress(progress_.get());
  window_->show();
  return worker_.Start(std::move(operation), progress_.get());
}

void ProgressRun::End(int result) {
  if (messenger_) messenger_->SetActiveProgress(nullptr);
  window_->Refresh();
  window_->CloseFinished();
  // Gone, not hidden: a closed window stays no part of the application
  // (screen readers list hidden windows too).
  window_.release()->deleteLater();
  emit finished(result);
}

}  // namespace dovrane::ui

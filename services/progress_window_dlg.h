// The progress window: a small modeless window with a text line above a
// progress bar, a title of the operation's choosing, the time left of long
// counted runs and, where the operation can stop cleanly, a Cancel button.
// It shows a WindowProgress that a worker thread drives; it takes the latest
// state at most 20 times a second, so a fast operation never floods the
// window's thread.
#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>

#include "services/window_progress.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace dovrane::services {

class CProgressWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 50;
  static constexpr int kEndlessStepMs = 500;

  // progress must outlive the window. The window is centred on its owner.
  explicit CProgressWindow(WindowProgress* progress, QWidget* owner = nullptr);

  // Shows the Cancel button; only for operations that can stop cleanly.
  void SetCancellable(bool cancellable);
  // Takes the latest state now instead of at the next refresh.
  void Refresh();
  // The operation has ended: the window closes.
  void CloseFinished();

 signals:
  // Cancel was pressed (the progress already asks the operation to stop).
  void cancelRequested();

 protected:
  // Escape and the close box cancel where Cancel is offered; otherwise the
  // window stays until its operation ends.
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void PressCancel();
  void StepEndless();

  WindowProgress* progress_;
  QLabel* line_;
  QProgressBar* bar_;
  QLabel* time_left_;
  QPushButton* cancel_;
  QTimer refresh_timer_;
  QTimer endless_timer_;
  uint64_t generation_ = UINT64_MAX;
  ProgressMode mode_ = ProgressMode::kNone;
  bool cancellable_ = false;
  bool closing_allowed_ = false;
};

}  // namespace dovrane::services

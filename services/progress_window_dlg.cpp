#include "services/progress_window_dlg.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "extlib/installation/language.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "services/qt_text_qt.h"

namespace dovrane::services {

namespace {

// The language text of the estimate: "About %1 left".
constexpr long kTimeLeftText = 2500498;


}  // namespace

CProgressWindow::CProgressWindow(WindowProgress* progress, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      progress_(progress),
      line_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      time_left_(new QLabel(this)),
      cancel_(new QPushButton(this)) {
  setModal(false);
  setAccessibleName(QStringLiteral("Progress"));
  line_->setObjectName(QStringLiteral("line"));
  line_->setAccessibleName(QStringLiteral("Progress text"));
  line_->setTextFormat(Qt::PlainText);  // paths from shared folders are not markup
  line_->setMinimumWidth(400);
  bar_->setObjectName(QStringLiteral("bar"));
  bar_->setAccessibleName(QStringLiteral("Progress bar"));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  time_left_->setObjectName(QStringLiteral("time_left"));
  time_left_->setAccessibleName(QStringLiteral("Time left"));
  cancel_->setObjectName(QStringLiteral("cancel"));
  cancel_->setText(services::FromCp1252(services::UiText(114, 1010)));
  cancel_->setAccessibleName(cancel_->text());
  cancel_->setVisible(false);
  cancel_->setAutoDefault(false);

  auto* row = new QHBoxLayout;
  row->addWidget(time_left_, 1);
  row->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(line_);
  layout->addWidget(bar_);
  layout->addLayout(row);

  connect(cancel_, &QPushButton::clicked, this, &CProgressWindow::PressCancel);
  refresh_timer_.setInterval(kRefreshMs);
  connect(&refresh_timer_, &QTimer::timeout, this, &CProgressWindow::Refresh);
  refresh_timer_.start();
  endless_timer_.setInterval(kEndlessStepMs);
  connect(&endless_timer_, &QTimer::timeout, this, &CProgressWindow::StepEndless);
  Refresh();
}

void CProgressWindow::SetCancellable(bool cancellable) {
  cancellable_ = cancellable;
  cancel_->setVisible(cancellable);
}

void CProgressWindow::Refresh() {
  ProgressSnapshot s = progress_->Take();
  if (s.generation != generation_) {
    generation_ = s.generation;
    setWindowTitle(services::FromCp1252(s.title));
    line_->setText(services::FromCp1252(s.line));
    if (s.mode != mode_) {
      mode_ = s.mode;
      bar_->setValue(0);
      bar_->setTextVisible(mode_ == ProgressMode::kCounted);
      if (mode_ == ProgressMode::kEndless)
        endless_timer_.start();
      else
        endless_timer_.stop();
    }
    // The bar keeps only increases; a percentage past 100 leaves it full.
    if (mode_ == ProgressMode::kCounted) bar_->setValue(static_cast<int>(s.percent < 100 ? s.percent : 100));
  }
  QString left;
  if (s.seconds_left >= 0) {
    std::string args = services::BuildUiTextArguments(FormatTimeLeft(s.seconds_left).c_str());
    left = services::FromCp1252(extlib::LanguageText(kTimeLeftText, 1, args));
  }
  if (left != time_left_->text()) time_left_->setText(left);
}

void CProgressWindow::StepEndless() {
  // Steps of 10 that start over once the bar stands full.
  bar_->setValue(bar_->value() >= 100 ? 0 : bar_->value() + 10);
}

void CProgressWindow::PressCancel() {
  if (!cancellable_) return;
  progress_->RequestCancel();
  cancel_->setEnabled(false);
  emit cancelRequested();
}

void CProgressWindow::reject() {
  if (closing_allowed_) {
    QDialog::reject();
    return;
  }
  PressCancel();
}

void CProgressWindow::closeEvent(QCloseEvent* event) {
  if (closing_allowed_) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  PressCancel();
}

void CProgressWindow::CloseFinished() {
  refresh_timer_.stop();
  endless_timer_.stop();
  closing_allowed_ = true;
  close();
}

}  // namespace dovrane::services

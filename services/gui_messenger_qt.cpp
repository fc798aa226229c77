#include "services/gui_messenger_qt.h"

#include <QApplication>
#include <QLabel>
#include <QThread>
#include <QVBoxLayout>

#include "extlib/installation/progress.h"
#include "platform/text_codec.h"
#include "services/qt_text_qt.h"

namespace dovrane::services {

namespace {

constexpr char kCaption[] = "Varnholtek Dovranix";


}  // namespace

BoxLayout BoxLayoutFor(unsigned flags) {
  BoxLayout layout{QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok};
  switch (flags & platform::kMbIconMask) {
    case platform::kMbIconError: layout.icon = QMessageBox::Critical; break;
    case platform::kMbIconQuestion: layout.icon = QMessageBox::Question; break;
    case platform::kMbIconWarning: layout.icon = QMessageBox::Warning; break;
    case platform::kMbIconInformation: layout.icon = QMessageBox::Information; break;
    default: break;
  }
  // Escape stands for the button that changes nothing: Cancel, No, Abort.
  switch (flags & platform::kMbButtonMask) {
    case platform::kMbOkCancel: layout = {layout.icon, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel}; break;
    case platform::kMbAbortRetryIgnore:
      layout = {layout.icon, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, QMessageBox::Abort};
      break;
    case platform::kMbYesNoCancel:
      layout = {layout.icon, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Cancel};
      break;
    case platform::kMbYesNo: layout = {layout.icon, QMessageBox::Yes | QMessageBox::No, QMessageBox::No}; break;
    case platform::kMbRetryCancel:
      layout = {layout.icon, QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Cancel};
      break;
    default: break;
  }
  return layout;
}

int BoxResult(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok: return platform::kIdOk;
    case QMessageBox::Cancel: return platform::kIdCancel;
    case QMessageBox::Abort: return platform::kIdAbort;
    case QMessageBox::Retry: return platform::kIdRetry;
    case QMessageBox::Ignore: return platform::kIdIgnore;
    case QMessageBox::Yes: return platform::kIdYes;
    case QMessageBox::No: return platform::kIdNo;
    default: return 0;
  }
}

GuiMessenger::GuiMessenger(QObject* parent) : QObject(parent) {}

GuiMessenger::~GuiMessenger() {
  Shutdown();
  for (auto& [handle, notice] : notices_) delete notice.data();
}

bool GuiMessenger::InOwnThread() const { return QThread::currentThread() == thread(); }

void GuiMessenger::Answer(Pending& pending, int result) {
  std::lock_guard lock(pending.mu);
  if (pending.done) return;
  pending.done = true;
  pending.result = result;
  pending.cv.notify_all();
}

int GuiMessenger::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  if (InOwnThread()) return ShowBox(text, caption, flags);
  auto pending = std::make_shared<Pending>();
  {
    std::lock_guard lock(mu_);
    if (shut_down_) return 0;
    waiting_.insert(pending);
  }
  // A queued call to a messenger that is gone is dropped; its destructor has
  // answered the question then.
  QMetaObject::invokeMethod(
      this,
      [this, pending, text, caption, flags] {
        {
          std::lock_guard lock(pending->mu);
          if (pending->done) return;  // answered by Shutdown: the window is closing
        }
        Answer(*pending, ShowBox(text, caption, flags));
      },
      Qt::QueuedConnection);
  int result;
  {
    std::unique_lock lock(pending->mu);
    pending->cv.wait(lock, [&] { return pending->done; });
    result = pending->result;
  }
  std::lock_guard lock(mu_);
  waiting_.erase(pending);
  return result;
}

int GuiMessenger::ShowBox(const std::string& text, const std::string& caption, unsigned flags) {
  BoxLayout layout = BoxLayoutFor(flags);
  // Owned by the window that has the keyboard focus, as the system's boxes are.
  QMessageBox box(layout.icon, services::FromCp1252(caption.empty() ? kCaption : caption), services::FromCp1252(text),
                  layout.buttons, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);  // names from shared folders are not markup
  box.setEscapeButton(layout.escape);
  box.setWindowModality(Qt::ApplicationModal);
  box.setAccessibleName(box.windowTitle());
  emit boxShown(&box);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  return BoxResult(clicked ? box.standardButton(clicked) : layout.escape);
}

void GuiMessenger::Shutdown() {
  std::set<std::shared_ptr<Pending>> waiting;
  {
    std::lock_guard lock(mu_);
    shut_down_ = true;
    waiting = waiting_;
  }
  for (const auto& pending : waiting) Answer(*pending, 0);
}

void GuiMessenger::SetActiveProgress(extlib::Progress* progress) {
  std::lock_guard lock(mu_);
  active_ = progress;
}

long GuiMessenger::ShowProgressNotice(const std::string& text) {
  {
    std::lock_guard lock(mu_);
    if (active_) {
      active_->Line(text);
      return next_notice_++;
    }
  }
  long handle = next_notice_++;
  if (InOwnThread())
    OpenNotice(handle, text);
  else
    QMetaObject::invokeMethod(this, [this, handle, text] { OpenNotice(handle, text); }, Qt::QueuedConnection);
  return handle;
}

void GuiMessenger::CloseProgressNotice(long handle) {
  if (InOwnThread())
    CloseNotice(handle);
  else
    QMetaObject::invokeMethod(this, [this, handle] { CloseNotice(handle); }, Qt::QueuedConnection);
}

void GuiMessenger::ProgressLine(const std::string& text) {
  std::lock_guard lock(mu_);
  if (active_) active_->Line(text);
}

void GuiMessenger::OpenNotice(long handle, const std::string& text) {
  auto* notice = new QWidget(QApplication::activeWindow(), Qt::Dialog);
  notice->setAttribute(Qt::WA_DeleteOnClose);
  notice->setWindowTitle(QString::fromLatin1(kCaption));
  notice->setAccessibleName(notice->windowTitle());
  auto* label = new QLabel(services::FromCp1252(text), notice);
  label->setTextFormat(Qt::PlainText);
  label->setAccessibleName(label->text());
  (new QVBoxLayout(notice))->addWidget(label);
  notice->show();
  notices_[handle] = notice;
}

void GuiMessenger::CloseNotice(long handle) {
  auto it = notices_.find(handle);
  if (it == notices_.end()) return;
  if (it->second) it->second->close();
  notices_.erase(it);
}

}  // namespace dovrane::services

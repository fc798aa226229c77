// The messenger of the dialog mode: message boxes with the system's icons and
// buttons and the caption "Varnholtek Dovranix". Callable from any thread: in
// the window's thread the box is shown at once; from a worker the box is
// posted to the window's thread and the worker waits for the answer, so the
// questions of a copy or a deletion appear over the window while it goes on
// repainting. Progress notices and lines go to the active progress window.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/messenger.h"

namespace dovrane::extlib {
class Progress;
}

namespace dovrane::services {

// How a box with the system's flags looks: icon, buttons, and the button that
// Escape and the close box stand for.
struct BoxLayout {
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton escape;
};
BoxLayout BoxLayoutFor(unsigned flags);
// The system's result for a pressed button; 0 for none.
int BoxResult(QMessageBox::StandardButton button);

class GuiMessenger : public QObject, public platform::Messenger {
  Q_OBJECT

 public:
  // Made in the window's thread; its boxes are shown there.
  explicit GuiMessenger(QObject* parent = nullptr);
  // Questions still waiting are answered 0 (nobody could answer them).
  ~GuiMessenger() override;

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  long ShowProgressNotice(const std::string& text) override;
  void CloseProgressNotice(long handle) override;
  void ProgressLine(const std::string& text) override;

  // While set, notices and lines go to this progress (the progress window's
  // own); without one a notice gets a small window of its own and lines are
  // dropped. Any thread.
  void SetActiveProgress(extlib::Progress* progress);
  // The window is closing: waiting questions are answered 0 now, later ones
  // from other threads at once.
  void Shutdown();

 signals:
  // A box is about to be shown (window thread); tests drive it from here.
  void boxShown(QMessageBox* box);

 private:
  struct Pending {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    int result = 0;
  };
  int ShowBox(const std::string& text, const std::string& caption, unsigned flags);
  bool InOwnThread() const;
  static void Answer(Pending& pending, int result);
  void OpenNotice(long handle, const std::string& text);
  void CloseNotice(long handle);

  std::mutex mu_;
  bool shut_down_ = false;
  std::set<std::shared_ptr<Pending>> waiting_;
  extlib::Progress* active_ = nullptr;
  std::atomic<long> next_notice_{1};
  std::map<long, QPointer<QWidget>> notices_;  // window thread only
};

}  // namespace dovrane::services

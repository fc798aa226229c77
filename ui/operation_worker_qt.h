// Runs one operation off the window's thread: the operation gets a context of
// its own, bound to the worker thread, with the given messenger and progress,
// and the dialog mode's interactive flag 0. Cancel sets the context's cancel
// flag, which the operation polls at every block, entry and project. The
// result comes back as finished(result) in the window's thread; the window's
// thread never waits for the worker while it runs.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <thread>

#include "extlib/operation_context.h"

namespace dovrane::platform {
class Messenger;
}

namespace dovrane::ui {

class GuiMessenger;

using Operation = std::function<int(extlib::OperationContext&)>;

class OperationWorker : public QObject {
  Q_OBJECT

 public:
  // messenger null: the current messenger. A GuiMessenger is shut down when
  // the worker is destroyed while its operation still runs, so that a
  // question it waits on cannot hold the window's thread.
  explicit OperationWorker(platform::Messenger* messenger = nullptr, QObject* parent = nullptr);
  // Cancels a running operation and waits for it to stop.
  ~OperationWorker() override;

  // Starts operation on a new thread with progress (null: none) as its
  // progress; false while another operation of this worker runs.
  bool Start(Operation operation, extlib::Progress* progress = nullptr);
  // Asks the running operation to stop at its next check; any thread.
  void Cancel();
  bool Running() const { return running_; }

 signals:
  // The operation has ended with its result (window thread).
  void finished(int result);

 private:
  void Join();

  platform::Messenger* messenger_;
  std::unique_ptr<extlib::OperationContext> context_;
  std::thread thread_;
  bool running_ = false;
};

}  // namespace dovrane::ui

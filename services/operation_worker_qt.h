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

#include "extlib/installation/operation_context.h"
#include "services/worker_runner.h"

namespace dovrane::platform {
class Messenger;
}

namespace dovrane::services {

class GuiMessenger;

using Operation = std::function<int(extlib::OperationContext&)>;

// How long a worker that goes waits for its cancelled operation to stop
// before leaving it behind (stuck in a call on a hanging share).
inline constexpr int kOperationGraceMs = 100;

class OperationWorker : public QObject {
  Q_OBJECT

 public:
  // messenger null: the current messenger. A GuiMessenger is shut down when
  // the worker is destroyed while its operation still runs, so that a
  // question it waits on cannot hold the window's thread.
  explicit OperationWorker(platform::Messenger* messenger = nullptr, QObject* parent = nullptr);
  // Cancels a running operation and waits kOperationGraceMs for it to stop.
  // One that does not (a call stuck in the kernel) is left to end on its
  // own: from then on its messages go nowhere, its result to nobody, and it
  // counts as a thread at large until it ends.
  ~OperationWorker() override;

  // Starts operation on a new thread with progress (null: none) as its
  // progress, which the thread keeps as long as it runs; false while another
  // operation of this worker runs.
  bool Start(Operation operation, std::shared_ptr<extlib::Progress> progress = nullptr);
  // Asks the running operation to stop at its next check; any thread.
  void Cancel();
  bool Running() const { return running_; }

 signals:
  // The operation has ended with its result (window thread).
  void finished(int result);

 private:
  struct Run;

  platform::Messenger* messenger_;
  std::shared_ptr<Run> run_;  // kept alive by its thread, which may outlive the worker
  std::shared_ptr<services::WorkerRunner::Job> job_;
  bool running_ = false;
  services::WorkerRunner runner_;  // last: closed first
};

}  // namespace dovrane::services

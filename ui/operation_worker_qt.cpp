#include "ui/operation_worker_qt.h"

#include "ui/gui_messenger_qt.h"

namespace dovrane::ui {

OperationWorker::OperationWorker(platform::Messenger* messenger, QObject* parent)
    : QObject(parent), messenger_(messenger) {}

OperationWorker::~OperationWorker() {
  if (running_) {
    Cancel();
    if (auto* gui = dynamic_cast<GuiMessenger*>(messenger_)) gui->Shutdown();
  }
  Join();
}

bool OperationWorker::Start(Operation operation, extlib::Progress* progress) {
  if (running_) return false;
  Join();  // the previous thread has posted its result and is ending
  context_ = std::make_unique<extlib::OperationContext>(messenger_, progress);
  context_->interactive = 0;
  running_ = true;
  extlib::OperationContext* context = context_.get();
  thread_ = std::thread([this, context, operation = std::move(operation)] {
    int result;
    {
      extlib::BindContext bind(*context);
      result = operation(*context);
    }
    // Dropped when the worker is gone; its destructor joined this thread then.
    QMetaObject::invokeMethod(
        this,
        [this, result] {
          running_ = false;
          Join();
          emit finished(result);
        },
        Qt::QueuedConnection);
  });
  return true;
}

void OperationWorker::Cancel() {
  if (context_) context_->Cancel();
}

void OperationWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace dovrane::ui

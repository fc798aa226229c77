#include "ui/operation_worker_qt.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/threads_at_large.h"
#include "ui/gui_messenger_qt.h"

namespace dovrane::ui {

namespace {

// Hands an operation's messages to the worker's messenger until the worker
// goes; then they are dropped (a question is unanswered), so that a thread
// left behind never reaches a messenger that is gone.
class DetachableMessenger : public platform::Messenger {
 public:
  explicit DetachableMessenger(platform::Messenger* target) : target_(target) {}

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    return Through([&](platform::Messenger* m) { return m->MessageBox(text, caption, flags); }, 0);
  }
  long ShowProgressNotice(const std::string& text) override {
    return Through([&](platform::Messenger* m) { return m->ShowProgressNotice(text); }, 0L);
  }
  void CloseProgressNotice(long handle) override {
    Through([&](platform::Messenger* m) { return (m->CloseProgressNotice(handle), 0); }, 0);
  }
  void ProgressLine(const std::string& text) override {
    Through([&](platform::Messenger* m) { return (m->ProgressLine(text), 0); }, 0);
  }

  // After it returns no call reaches the target. A call under way is waited
  // for: the target must answer its questions without the window's thread
  // (a shut-down GuiMessenger does).
  void Detach() {
    std::unique_lock lock(mu_);
    target_ = nullptr;
    idle_.wait(lock, [this] { return calls_ == 0; });
  }

 private:
  template <typename Call, typename Result>
  Result Through(Call call, Result none) {
    platform::Messenger* target;
    {
      std::lock_guard lock(mu_);
      target = target_;
      if (!target) return none;
      ++calls_;
    }
    Result result = call(target);
    std::lock_guard lock(mu_);
    if (--calls_ == 0) idle_.notify_all();
    return result;
  }

  std::mutex mu_;
  std::condition_variable idle_;
  platform::Messenger* target_;
  int calls_ = 0;
};

}  // namespace

// What the operation's thread uses: kept alive by the thread, so that it
// may outlive the worker.
struct OperationWorker::Run {
  Run(platform::Messenger* target, std::shared_ptr<extlib::Progress> given)
      : relay(target), progress(std::move(given)), context(target ? &relay : nullptr, progress.get()) {}

  std::mutex mu;
  std::condition_variable ended;
  OperationWorker* receiver = nullptr;  // null once the worker is gone
  bool done = false;
  bool left_behind = false;
  DetachableMessenger relay;
  std::shared_ptr<extlib::Progress> progress;
  extlib::OperationContext context;
};

OperationWorker::OperationWorker(platform::Messenger* messenger, QObject* parent)
    : QObject(parent), messenger_(messenger) {}

OperationWorker::~OperationWorker() {
  if (!run_) return;
  std::unique_lock lock(run_->mu);
  run_->receiver = nullptr;  // its result is posted to nobody
  if (!run_->done) {
    run_->context.Cancel();
    lock.unlock();
    if (auto* gui = dynamic_cast<GuiMessenger*>(messenger_)) gui->Shutdown();
    lock.lock();
    run_->ended.wait_for(lock, std::chrono::milliseconds(kOperationGraceMs), [this] { return run_->done; });
    if (!run_->done) {
      // Decided under the lock: the thread counts itself out only once counted in.
      run_->left_behind = true;
      platform::ThreadAtLargeStarts();
    }
  }
  const bool left_behind = run_->left_behind;
  lock.unlock();
  if (left_behind) {
    run_->relay.Detach();
    thread_.detach();
  } else {
    Join();
  }
}

bool OperationWorker::Start(Operation operation, std::shared_ptr<extlib::Progress> progress) {
  if (running_) return false;
  Join();  // the previous thread has posted its result and is ending
  run_ = std::make_shared<Run>(messenger_, std::move(progress));
  run_->context.interactive = 0;
  run_->receiver = this;
  running_ = true;
  thread_ = std::thread([run = run_, operation = std::move(operation)] {
    int result;
    {
      extlib::BindContext bind(run->context);
      result = operation(run->context);
    }
    std::lock_guard lock(run->mu);
    run->done = true;
    // Under the lock: the worker cannot go between the look and the post.
    if (run->receiver) {
      OperationWorker* worker = run->receiver;
      QMetaObject::invokeMethod(
          worker,
          [worker, result] {
            worker->running_ = false;
            worker->Join();
            emit worker->finished(result);
          },
          Qt::QueuedConnection);
    }
    if (run->left_behind) platform::ThreadAtLargeEnds();
    run->ended.notify_all();
  });
  return true;
}

void OperationWorker::Cancel() {
  if (run_) run_->context.Cancel();
}

void OperationWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace dovrane::ui

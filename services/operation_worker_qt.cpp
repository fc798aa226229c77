#include "services/operation_worker_qt.h"

#include <chrono>
#include <limits>
#include <condition_variable>
#include <mutex>

#include "services/post_to_qt.h"
#include "services/gui_messenger_qt.h"

namespace dovrane::services {

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

// What the operation's context points at: kept alive by the thread, so that
// it may outlive the worker.
struct OperationWorker::Run {
  Run(platform::Messenger* target, std::shared_ptr<extlib::Progress> given)
      : relay(target), progress(std::move(given)) {}

  DetachableMessenger relay;
  std::shared_ptr<extlib::Progress> progress;
};

OperationWorker::OperationWorker(platform::Messenger* messenger, QObject* parent)
    : QObject(parent), messenger_(messenger), runner_(services::PostTo(this), kOperationGraceMs) {}

OperationWorker::~OperationWorker() {
  if (job_ && !job_->Done()) {
    job_->Cancel();
    // A question the operation waits on is answered without this thread.
    if (auto* gui = dynamic_cast<GuiMessenger*>(messenger_)) gui->Shutdown();
    if (!runner_.Wait(job_, kOperationGraceMs) && runner_.LeaveBehind(job_)) run_->relay.Detach();
  }
  (void)runner_.Close();
}

bool OperationWorker::Start(Operation operation, std::shared_ptr<extlib::Progress> progress) {
  if (running_) return false;
  run_ = std::make_shared<Run>(messenger_, std::move(progress));
  services::WorkerRunner::Options options;
  options.messenger = messenger_ ? &run_->relay : nullptr;
  options.progress = run_->progress.get();
  options.keep = run_;
  job_ = runner_.Start(
      [this, operation = std::move(operation)](services::WorkerRunner::Job& job) {
        const int result = operation(job.context());
        return std::function<void()>([this, result] {
          // The thread is past its last post: a receiver that destroys the
          // worker on finished() must find it ended, not still running.
          (void)runner_.Wait(job_, std::numeric_limits<int>::max());
          running_ = false;
          emit finished(result);
        });
      },
      std::move(options));
  running_ = job_ != nullptr;
  return running_;
}

void OperationWorker::Cancel() {
  if (job_) job_->Cancel();
}

}  // namespace dovrane::services

// Runs the window's work that touches a disk or the network, each piece on a
// thread of its own with an operation context of its own (whose cancel flag
// the runner sets), and hands each piece's result back to its owner through
// the owner's post function (the window code posts to its own thread).
//
// The shutdown rule, the same for every owner: Close() cancels every piece
// still running and waits for them at most the runner's grace, in all. A
// piece that has not ended by then (stuck in a call on a dead share) is left
// behind: its result goes nowhere, it counts as a thread at large until it
// ends, and what it uses (its context, its closure, the owner's keep-alive
// state) is kept alive by the piece itself. The process ends through
// platform::EndProcess, which destroys no static object while a thread is at
// large.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "extlib/installation/installation.h"
#include "extlib/installation/operation_context.h"

namespace dovrane::platform {
class Messenger;
}

namespace dovrane::services {

// How long closing waits, in all, for one runner's work still under way: a
// look-up of a reachable disk ends well within it, one on a dead share not.
inline constexpr int kWorkerCloseGraceMs = 100;

class WorkerRunner {
 public:
  // Hands a result closure to the owner's thread.
  using Post = std::function<void(std::function<void()>)>;
  class Job;
  // The work: runs on its own thread with its job (the context, and Post for
  // results on the way); returns what is to run in the owner's thread at its
  // end (empty: nothing). The closures hold copies only: a piece left behind
  // drops them on its own thread.
  using Work = std::function<std::function<void()>(Job&)>;

  struct Options {
    // The context's messenger and progress (null: the current messenger, no
    // progress); both must live as long as the piece, see keep.
    platform::Messenger* messenger = nullptr;
    extlib::Progress* progress = nullptr;
    // The installation the piece works on (must outlive it); null: the process
    // default, which is the window's.
    extlib::Installation* installation = nullptr;
    // Kept alive by the piece until it ends.
    std::shared_ptr<void> keep;
    // The context's interactive flag: the window asks nothing of its own accord.
    int interactive = 0;
  };

  // One piece of work, shared by the runner and its thread.
  class Job {
   public:
    void Cancel() { context_.Cancel(); }
    bool Done() const;
    // Left behind by a close or by LeaveBehind.
    bool LeftBehind() const;
    extlib::OperationContext& context() { return context_; }
    // From the work: hands apply to the owner's thread now, unless the owner
    // closed or left the piece behind; false then.
    bool Post(std::function<void()> apply);

   private:
    friend class WorkerRunner;
    struct Gate;
    Job(std::shared_ptr<Gate> gate, const Options& options)
        : gate_(std::move(gate)), keep_(options.keep), context_(options.installation ? *options.installation : extlib::ProcessInstallation(), options.messenger,
                   options.progress) {}

    std::shared_ptr<Gate> gate_;  // the owner's post and whether it is open

    mutable std::mutex mu_;
    std::condition_variable ended_;
    bool done_ = false;
    bool left_behind_ = false;
    std::shared_ptr<void> keep_;
    extlib::OperationContext context_;
    std::thread thread_;
  };

  explicit WorkerRunner(Post post, int grace_ms = kWorkerCloseGraceMs);
  // Closes.
  ~WorkerRunner();
  WorkerRunner(const WorkerRunner&) = delete;
  WorkerRunner& operator=(const WorkerRunner&) = delete;

  // Starts work on a new thread; null once closed (or when no thread can be
  // started). Start, LeaveBehind and Close belong to the owner's thread;
  // Cancel, CancelAll, Wait and Running to any.
  std::shared_ptr<Job> Start(Work work, Options options);
  std::shared_ptr<Job> Start(Work work) { return Start(std::move(work), Options{}); }
  // Asks every running piece to stop at its next check.
  void CancelAll();
  // Waits at most ms for job to end; true when it has.
  bool Wait(const std::shared_ptr<Job>& job, int ms);
  // Drops job's result and leaves it to end on its own, unless it has ended;
  // true when it was left behind.
  bool LeaveBehind(const std::shared_ptr<Job>& job);
  // The shutdown rule above; afterwards no result is posted and Start
  // refuses. Returns how many pieces were left behind.
  int Close();
  // What closing does to the pieces running now, the runner staying open
  // (a stop that may start again).
  int Settle();
  // Pieces started and not ended.
  int Running() const;

 private:
  using Gate = Job::Gate;
  static void Run(std::shared_ptr<Job> job, Work work);
  void Reap();
  int LeaveOrJoin(std::vector<std::shared_ptr<Job>> jobs);
  static bool LeaveBehindLocked(Job& job);

  std::shared_ptr<Gate> gate_;  // shared with the threads: the post and whether it is open
  int grace_ms_;
  mutable std::mutex jobs_mu_;
  bool closed_ = false;  // under jobs_mu_
  std::vector<std::shared_ptr<Job>> jobs_;
};

}  // namespace dovrane::services

#include "services/worker_runner.h"

#include <algorithm>
#include <system_error>

#include "platform/threads_at_large.h"

namespace dovrane::services {

// The owner's side, as the threads see it: while open, a result is posted.
struct WorkerRunner::Job::Gate {
  std::mutex mu;
  bool open = true;
  WorkerRunner::Post post;
};

WorkerRunner::WorkerRunner(Post post, int grace_ms) : gate_(std::make_shared<Gate>()), grace_ms_(grace_ms) {
  gate_->post = std::move(post);
}

WorkerRunner::~WorkerRunner() { (void)Close(); }

bool WorkerRunner::Job::Done() const {
  std::lock_guard lock(mu_);
  return done_;
}

bool WorkerRunner::Job::LeftBehind() const {
  std::lock_guard lock(mu_);
  return left_behind_;
}

std::shared_ptr<WorkerRunner::Job> WorkerRunner::Start(Work work, Options options) {
  Reap();
  std::shared_ptr<Job> job(new Job(gate_, options));
  job->context_.interactive = options.interactive;
  std::lock_guard lock(jobs_mu_);
  if (closed_) return nullptr;
  try {
    job->thread_ = std::thread(&WorkerRunner::Run, job, std::move(work));
  } catch (const std::system_error&) {
    return nullptr;
  }
  jobs_.push_back(job);
  return job;
}

bool WorkerRunner::Job::Post(std::function<void()> apply) {
  // Under the gate's lock: the owner cannot close between the look and the post.
  std::lock_guard lock(gate_->mu);
  {
    std::lock_guard job_lock(mu_);
    if (left_behind_) return false;
  }
  if (!gate_->open) return false;
  gate_->post(std::move(apply));
  return true;
}

void WorkerRunner::Run(std::shared_ptr<Job> job, Work work) {
  std::function<void()> apply = work(*job);
  work = nullptr;
  if (apply) (void)job->Post(std::move(apply));
  apply = nullptr;
  bool at_large;
  {
    std::lock_guard lock(job->mu_);
    job->done_ = true;
    at_large = job->left_behind_;
  }
  job->ended_.notify_all();
  // The last step: counted out only once counted in (decided under the lock).
  if (at_large) platform::ThreadAtLargeEnds();
}

void WorkerRunner::CancelAll() {
  std::lock_guard lock(jobs_mu_);
  for (const std::shared_ptr<Job>& job : jobs_) job->Cancel();
}

bool WorkerRunner::Wait(const std::shared_ptr<Job>& job, int ms) {
  std::unique_lock lock(job->mu_);
  return job->ended_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return job->done_; });
}

bool WorkerRunner::LeaveBehindLocked(Job& job) {
  if (job.done_ || job.left_behind_) return job.left_behind_;
  job.left_behind_ = true;
  platform::ThreadAtLargeStarts();
  return true;
}

bool WorkerRunner::LeaveBehind(const std::shared_ptr<Job>& job) {
  bool left;
  {
    std::lock_guard lock(job->mu_);
    left = LeaveBehindLocked(*job);
  }
  if (left && job->thread_.joinable()) job->thread_.detach();
  return left;
}

int WorkerRunner::Close() {
  {
    std::lock_guard lock(gate_->mu);
    gate_->open = false;
  }
  std::vector<std::shared_ptr<Job>> jobs;
  {
    std::lock_guard lock(jobs_mu_);
    closed_ = true;
    jobs.swap(jobs_);
  }
  return LeaveOrJoin(std::move(jobs));
}

int WorkerRunner::Settle() {
  std::vector<std::shared_ptr<Job>> jobs;
  {
    std::lock_guard lock(jobs_mu_);
    jobs.swap(jobs_);
  }
  return LeaveOrJoin(std::move(jobs));
}

int WorkerRunner::LeaveOrJoin(std::vector<std::shared_ptr<Job>> jobs) {
  for (const std::shared_ptr<Job>& job : jobs) job->Cancel();
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(grace_ms_);
  int left = 0;
  for (const std::shared_ptr<Job>& job : jobs) {
    bool behind;
    {
      std::unique_lock lock(job->mu_);
      job->ended_.wait_until(lock, give_up, [&] { return job->done_; });
      behind = LeaveBehindLocked(*job);
    }
    if (behind) {
      ++left;
      if (job->thread_.joinable()) job->thread_.detach();
    } else if (job->thread_.joinable()) {
      job->thread_.join();
    }
  }
  return left;
}

int WorkerRunner::Running() const {
  std::lock_guard lock(jobs_mu_);
  return static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(), [](const auto& job) { return !job->Done(); }));
}

void WorkerRunner::Reap() {
  std::vector<std::shared_ptr<Job>> ended;
  {
    std::lock_guard lock(jobs_mu_);
    auto keep = std::stable_partition(jobs_.begin(), jobs_.end(), [](const auto& job) {
      std::lock_guard job_lock(job->mu_);
      return !job->done_ && !job->left_behind_;
    });
    ended.assign(std::make_move_iterator(keep), std::make_move_iterator(jobs_.end()));
    jobs_.erase(keep, jobs_.end());
  }
  for (const std::shared_ptr<Job>& job : ended) {
    if (job->thread_.joinable()) job->thread_.join();
  }
}

}  // namespace dovrane::services

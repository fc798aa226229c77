#include "tree/item_checks.h"

#include <fcntl.h>

#include <chrono>

#include "extlib/installation/hosts.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/project_list.h"
#include "extlib/projects/project_paths.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"
#include "tree/item_kind.h"

namespace dovrane::tree {

namespace {

// A session makes its lock file and then locks it: a file this young and not
// yet locked may be one on its way, and deleting it would leave the session
// locking a file nobody sees. It counts as free and stays for a later check.
constexpr int64_t kLockFileGraceSeconds = 10;

// True while another process holds the project's lock file; a lock file held
// by nobody is stale and is deleted, and the project counts as free.
bool LockFileHeld(extlib::OperationContext& ctx, uint32_t number) {
  extlib::PRJ record;
  std::string dir;
  if (extlib::get_PrjInfo_by_number(ctx, number, &record) != 0 || extlib::make_prj_dir(ctx, record, &dir) != 0)
    return false;
  platform::Env* env = &ctx.Env();
  std::string lock = ctx.Native(dir + "\\" + extlib::kLockInfoFile);
  // Only a regular file is a session's; a pipe must not block the open.
  int fd = env->Open(lock, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  platform::FileInfo info;
  bool regular = env->FStat(fd, &info) == 0 && info.type == platform::EntryType::kFile;
  // A lock test the share fails counts as held: the file is nobody's to delete then.
  const bool locked = regular && platform::HeldByOtherProcess(fd);
  platform::CloseNothingPending(env, fd);
  // The file's age by this computer's clock; one that lies in the future (a
  // clock that differs) is no sign of a session starting.
  const int64_t age = env->NowSeconds() - info.modified.sec;
  const bool starting = age >= 0 && age < kLockFileGraceSeconds;
  if (regular && !locked && !starting) (void)env->Unlink(lock);
  return locked;
}

}  // namespace

std::vector<HostCheckRequest> HostCheckRequests(const HostTable& table, bool ping_allowed) {
  std::vector<HostCheckRequest> requests;
  for (const auto& host : table.hosts) {
    HostCheckRequest request;
    request.host = host->name;
    // A host with projects is not pinged: its folders say whether they can be
    // reached, and a name the resolver does not know must not hide them.
    request.ping = ping_allowed && host->projects.empty();
    for (const ProjectRecord& project : host->projects) {
      if (project.kind == kKindProject || project.kind == kKindProjectInUse) {
        request.free_projects.push_back(project.number);
      }
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

HostCheckResult CheckHost(extlib::OperationContext& ctx, const HostCheckRequest& request, const PingFunction& ping) {
  extlib::QuietContext quiet(ctx);
  HostCheckResult result;
  result.host = request.host;
  result.checked_out = extlib::IsHostCheckedOut(ctx, request.host) != 0;
  if (request.ping && ping) result.ping_failed = ping(request.host, kCheckPingTimeoutMs) != 0;
  if (result.ping_failed) return result;
  for (uint32_t number : request.free_projects) {
    if (LockFileHeld(quiet, number)) result.in_use.push_back(number);
  }
  return result;
}

uint32_t ProjectKindNow(extlib::OperationContext& ctx, const std::string& text, const std::string& /*data_path*/) {
  extlib::QuietContext quiet(ctx);
  const std::string padded = extlib::PadName(text);
  unsigned char status = 0;
  if (extlib::get_project_status(quiet, padded, &status) != 0) return 0;
  const unsigned char flags = extlib::StatusFlags(status);
  if (flags & extlib::kStatusProjectOut) return kKindProjectOut;
  if (flags & extlib::kStatusHostOut) return kKindProjectHostOut;
  const long number = extlib::get_project_number(quiet, padded);
  if (number <= 0) return 0;
  return LockFileHeld(quiet, static_cast<uint32_t>(number)) ? kKindProjectInUse : kKindProject;
}

DirectoryCheck LookupProjectDirectory(extlib::OperationContext& ctx, const std::string& host, const std::string& name) {
  extlib::QuietContext quiet(ctx);
  DirectoryCheck check;
  check.host = host;
  check.name = name;
  const std::string padded = extlib::PadName(name);
  check.number = extlib::get_project_number(quiet, padded);
  extlib::PRJ record;
  if (extlib::get_project_info(quiet, padded, &record) == 0 && record.number != 0) {
    std::string path;
    int rc = extlib::make_prj_dir(quiet, record, &path);
    if ((rc == 0 || rc == -6) && !path.empty()) check.path = path;
  }
  check.reachable = !check.path.empty() && extlib::lzcheck_path(ctx, check.path) >= 0;
  return check;
}

std::vector<ProjectRecord*> ApplyHostCheck(HostRecord* host, const HostCheckResult& result,
                                           const std::set<uint32_t>& unreachable) {
  host->checked_out = result.checked_out;
  host->ping_failed = result.ping_failed || !result.in_time;
  host->kind = HostKind(host->admin, host->checked_out, host->ping_failed);
  host->image = KindImage(host->kind);
  std::set<uint32_t> in_use(result.in_use.begin(), result.in_use.end());
  std::vector<ProjectRecord*> changed;
  for (ProjectRecord& record : host->projects) {
    ProjectRecord* project = &record;
    uint32_t kind = project->kind;
    if (kind != kKindProject && kind != kKindProjectInUse && kind != kKindProjectUnreachable) continue;
    project->in_use = in_use.count(project->number) > 0;
    if (project->in_use) {
      kind = kKindProjectInUse;
    } else if (!result.in_time || unreachable.count(project->number)) {
      kind = kKindProjectUnreachable;
    } else {
      kind = kKindProject;
    }
    int image = kind == kKindProject && project->image == kImageProjectMarked ? kImageProjectMarked : KindImage(kind);
    if (kind != project->kind || image != project->image) {
      project->kind = kind;
      project->image = image;
      changed.push_back(project);
    }
  }
  return changed;
}

bool ApplyDirectoryCheck(const HostTable& table, ProjectRecord* project, const DirectoryCheck& check,
                         std::set<uint32_t>* unreachable) {
  bool changed = false;
  if (project->location().empty() && !check.path.empty()) {
    project->SetLocation(check.path);
    changed = true;
  }
  if (project->kind != kKindProject && project->kind != kKindProjectUnreachable) return changed;
  if (check.number < 0) return changed;
  const uint32_t number = static_cast<uint32_t>(check.number);
  if (project->kind == kKindProjectUnreachable && !table.IsProjectOnOpenHost(number)) return changed;
  const bool reachable = check.in_time && check.reachable;
  if (!reachable && project->kind == kKindProject) {
    project->kind = kKindProjectUnreachable;
    project->image = kImageProjectUnreachable;
    unreachable->insert(number);
    return true;
  }
  if (reachable && project->kind == kKindProjectUnreachable) {
    project->kind = kKindProject;
    project->image = kImageProject;
    unreachable->erase(number);
    return true;
  }
  return changed;
}

struct ItemCheckWorker::Task {
  std::function<void()> run;      // does the check and answers
  std::function<void()> timeout;  // answers "not answering"
  std::chrono::steady_clock::time_point deadline;
  std::atomic<bool> answered{false};
  std::atomic<bool> finished{false};
};

struct ItemCheckWorker::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  // Closed when the worker goes: no answer is handed on after that.
  std::mutex gate;
  bool closed = false;
  // Answers once, unless closed.
  template <typename Answer>
  void Deliver(Task* task, Answer&& answer) {
    std::lock_guard<std::mutex> guard(gate);
    if (!closed && !task->answered.exchange(true)) answer();
  }
};

namespace {
// How long the destructor waits for checks that end by themselves.
constexpr int kCheckGraceMs = 200;
}  // namespace

ItemCheckWorker::ItemCheckWorker(int time_limit_ms, PingFunction ping, HostCallback on_host,
                                 DirectoryCallback on_directory)
    : time_limit_ms_(time_limit_ms),
      ping_(std::move(ping)),
      on_host_(std::move(on_host)),
      on_directory_(std::move(on_directory)),
      shared_(std::make_shared<Shared>()),
      mutex_(shared_->mutex),
      wake_(shared_->wake),
      checks_([](std::function<void()>) {}, kCheckGraceMs),
      watchdog_([this] { Watch(); }) {}

ItemCheckWorker::~ItemCheckWorker() {
  {
    std::lock_guard<std::mutex> guard(shared_->gate);
    shared_->closed = true;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  stop_ = true;
  wake_.notify_all();
  lock.unlock();
  watchdog_.join();
  // A check that ends soon is waited for; one stuck in a call on a hanging
  // share (which may wait in the kernel for as long as the mount does) is
  // left to end on its own, answering nobody.
  (void)checks_.Close();
}

void ItemCheckWorker::CheckHosts(uint64_t serial, std::vector<HostCheckRequest> requests) {
  for (HostCheckRequest& request : requests) {
    auto task = std::make_shared<Task>();
    Task* raw = task.get();
    auto shared = std::make_shared<HostCheckRequest>(std::move(request));
    raw->run = [state = shared_, ping = ping_, on_host = on_host_, raw, shared, serial] {
      extlib::OperationContext ctx(extlib::ProcessInstallation());
      HostCheckResult result = CheckHost(ctx, *shared, ping);
      state->Deliver(raw, [&] { on_host(serial, std::move(result)); });
    };
    raw->timeout = [state = shared_, on_host = on_host_, raw, shared, serial] {
      HostCheckResult result;
      result.host = shared->host;
      result.in_time = false;
      state->Deliver(raw, [&] { on_host(serial, std::move(result)); });
    };
    Start(std::move(task));
  }
}

void ItemCheckWorker::CheckDirectory(uint64_t serial, const std::string& host, const std::string& name) {
  auto task = std::make_shared<Task>();
  Task* raw = task.get();
  raw->run = [state = shared_, on_directory = on_directory_, raw, host, name, serial] {
    extlib::OperationContext ctx(extlib::ProcessInstallation());
    DirectoryCheck check = LookupProjectDirectory(ctx, host, name);
    state->Deliver(raw, [&] { on_directory(serial, std::move(check)); });
  };
  raw->timeout = [state = shared_, on_directory = on_directory_, raw, host, name, serial] {
    DirectoryCheck check;
    check.host = host;
    check.name = name;
    check.in_time = false;
    state->Deliver(raw, [&] { on_directory(serial, std::move(check)); });
  };
  Start(std::move(task));
}

int ItemCheckWorker::Pending() const {
  std::lock_guard<std::mutex> guard(mutex_);
  int pending = 0;
  for (const auto& task : watched_) pending += task->answered ? 0 : 1;
  return pending;
}

void ItemCheckWorker::Start(std::shared_ptr<Task> task) {
  task->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(time_limit_ms_);
  std::lock_guard<std::mutex> guard(mutex_);
  if (stop_) return;
  watched_.push_back(task);
  // The piece keeps what it uses: it may outlive the worker.
  auto started = checks_.Start([state = shared_, task](services::WorkerRunner::Job&) {
    task->run();
    {
      std::lock_guard<std::mutex> guard(state->mutex);
      task->finished = true;
    }
    state->wake.notify_all();
    return std::function<void()>();
  });
  // No thread: the watchdog answers it as not answering.
  (void)started;
  wake_.notify_all();
}

void ItemCheckWorker::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    auto now = std::chrono::steady_clock::now();
    auto next = now + std::chrono::hours(1);
    std::vector<std::shared_ptr<Task>> expired;
    for (size_t i = 0; i < watched_.size();) {
      const auto& task = watched_[i];
      if (task->answered || task->finished) {
        watched_[i] = std::move(watched_.back());
        watched_.pop_back();
        continue;
      }
      if (task->deadline <= now) {
        expired.push_back(task);
      } else if (task->deadline < next) {
        next = task->deadline;
      }
      ++i;
    }
    if (!expired.empty()) {
      lock.unlock();
      for (const auto& task : expired) task->timeout();
      lock.lock();
      continue;
    }
    wake_.wait_until(lock, next);
  }
}

}  // namespace dovrane::tree

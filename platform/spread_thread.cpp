#include "platform/spread_thread.h"

#include <sched.h>

#include <system_error>

namespace dovrane::platform {

namespace {

// The processors this process may use.
bool AllowedProcessors(cpu_set_t* set) {
  CPU_ZERO(set);
  return sched_getaffinity(0, sizeof *set, set) == 0;
}

}  // namespace

SpreadThread::SpreadThread(std::function<void()> fn) : fn_(std::move(fn)) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) throw std::system_error(ENOMEM, std::generic_category());
  cpu_set_t others;
  const int here = sched_getcpu();
  // Placed away from this processor where another one is allowed; else anywhere.
  if (AllowedProcessors(&others) && here >= 0 && here < CPU_SETSIZE && CPU_ISSET(here, &others) &&
      CPU_COUNT(&others) > 1) {
    CPU_CLR(here, &others);
    pthread_attr_setaffinity_np(&attr, sizeof others, &others);
  }
  const int rc = pthread_create(&thread_, &attr, &SpreadThread::Start, this);
  pthread_attr_destroy(&attr);
  if (rc != 0) throw std::system_error(rc, std::generic_category());
  started_ = true;
}

SpreadThread::~SpreadThread() {
  if (started_) pthread_join(thread_, nullptr);
}

void* SpreadThread::Start(void* self) {
  // Started where it was placed: from now on any allowed processor will do.
  cpu_set_t all;
  if (AllowedProcessors(&all)) pthread_setaffinity_np(pthread_self(), sizeof all, &all);
  static_cast<SpreadThread*>(self)->fn_();
  return nullptr;
}

}  // namespace dovrane::platform

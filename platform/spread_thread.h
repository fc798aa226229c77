// A thread started on another processor than its creator's. A new thread is
// queued on its creator's processor, and an idle one may take it over only
// at its next clock tick (up to 4 ms later); a short parallel job (the list
// takes a few milliseconds) would lose its second thread to that wait.
#pragma once

#include <pthread.h>

#include <functional>

namespace dovrane::platform {

class SpreadThread {
 public:
  // Runs fn; once started, the thread may run on any processor allowed.
  explicit SpreadThread(std::function<void()> fn);
  ~SpreadThread();  // joins
  SpreadThread(const SpreadThread&) = delete;
  SpreadThread& operator=(const SpreadThread&) = delete;

 private:
  static void* Start(void* self);

  std::function<void()> fn_;
  pthread_t thread_{};
  bool started_ = false;
  bool inline_ = false;
};

}  // namespace dovrane::platform

// A CAD session as other programs see it: its line in a project's lock
// information file, and its lock on that file, held until Release.
#pragma once

#include <fcntl.h>

#include <string>

namespace dovrane::testing {

class SessionLock {
 public:
  // Writes the session's line to path and locks the whole file (F_RDLCK or
  // F_WRLCK, an open file description lock). held() tells whether it worked.
  explicit SessionLock(const std::string& path, short type = F_WRLCK);
  ~SessionLock() { Release(); }
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

  bool held() const { return held_; }
  // The session ends: its lock goes with the file's closing.
  void Release();

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace dovrane::testing

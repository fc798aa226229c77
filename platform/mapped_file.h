// A large file read where it lies, in the page cache, instead of being
// copied out of it (for the list, the copy was a fifth of its time).
//
// Another program may cut a shared file short while it is mapped. Reading a
// page past its new end would end this process with SIGBUS; a guard turns
// such pages into zeros instead and remembers it (Cut()), so the reader can
// tell a file that changed under it from a damaged one. Faults anywhere else
// go on to the handler that was there before (the crash report).
#pragma once

#include <signal.h>

#include <cstddef>

namespace dovrane::platform {

// When the guard handles SIGBUS now, handler becomes the one it passes other
// faults on to, and true; a crash report installed while a file is mapped
// thus never takes the guard away. False: the caller installs handler itself.
bool ChainBehindMappingGuard(const struct sigaction& handler);

class MappedFile {
 public:
  // Maps the first size bytes of the open regular file fd read-only. data()
  // is null when that fails (not a regular file, no memory, every guard in
  // use): the caller reads it the ordinary way then.
  MappedFile(int fd, size_t size);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  // True when a page was gone while being read: the file was cut short.
  bool Cut() const;

 private:
  const char* data_ = nullptr;
  size_t size_ = 0;
  int guard_ = -1;
};

}  // namespace dovrane::platform

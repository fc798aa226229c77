// Libraries loaded when a run first needs them (dlopen), so a command-line
// run does not load the window's or the network's libraries at start-up.
#pragma once

#include <string>

namespace dovrane::platform {

class SharedLibrary {
 public:
  // Loads file (a path, or a name the dynamic loader searches for); on
  // failure loaded() is false and error() says why.
  explicit SharedLibrary(const std::string& file);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }
  // The address of a symbol; nullptr (and error() set) when it is missing.
  void* Symbol(const char* name);

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// The folder of the running program ("" when it cannot be told).
std::string ProgramFolder();

}  // namespace dovrane::platform

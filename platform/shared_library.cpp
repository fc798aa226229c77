#include "platform/shared_library.h"

#include <dlfcn.h>
#include <unistd.h>

namespace dovrane::platform {

SharedLibrary::SharedLibrary(const std::string& file) {
  // RTLD_LOCAL: the library's symbols stay its own; the program's exported
  // ones are visible to it all the same.
  handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    error_ = why ? why : file + ": cannot be loaded";
  }
}

SharedLibrary::~SharedLibrary() {
  // Kept loaded: a library's threads and static objects (Qt's, Samba's) may
  // outlive the object that loaded it.
}

void* SharedLibrary::Symbol(const char* name) {
  if (!handle_) return nullptr;
  dlerror();
  void* address = dlsym(handle_, name);
  if (!address) {
    const char* why = dlerror();
    error_ = why ? why : std::string(name) + ": missing";
  }
  return address;
}

std::string ProgramFolder() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string path(buf, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

}  // namespace dovrane::platform

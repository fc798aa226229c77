#include "support/scoped_environment.h"

#include <cstdlib>

namespace dovrane::testing {

void ScopedEnvironment::Set(const std::map<std::string, std::string>& variables) {
  for (const auto& [name, value] : variables) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  for (const auto& [name, old] : saved_) {
    if (old)
      ::setenv(name.c_str(), old->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
}

}  // namespace dovrane::testing

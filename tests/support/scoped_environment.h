// Variables of this process's environment set for the life of the object and
// put back as they were (unset when they were unset) at its end, so a test
// that points the library at an installation leaves no trace for the next.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace dovrane::testing {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // Sets the variables; the value each had before its first Set comes back.
  void Set(const std::map<std::string, std::string>& variables);

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace dovrane::testing

// A temporary folder removed with everything below it when the test ends.
#pragma once

#include <string>

namespace dovrane::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes a whole file, creating its folders. Fails the test on error.
void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

}  // namespace dovrane::testing

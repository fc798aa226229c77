// A fresh folder for one test, removed with everything below it at the end.
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
  // Writes a file below the folder (parents created); returns its native path.
  std::string Write(const std::string& relative, const std::string& contents) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes a whole file, creating its folders. Fails the test on error.
void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);
// Whether a name is there; a symbolic link counts even when its target is
// gone, so a link left behind is never mistaken for a removal.
bool Exists(const std::string& path);

}  // namespace dovrane::testing

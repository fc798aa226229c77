#include "support/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace dovrane::testing {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "dovrane-test-XXXXXX").string();
  char* made = ::mkdtemp(tmpl.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& relative, const std::string& contents) const {
  std::filesystem::path p = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << contents;
  return p.string();
}

std::string TempDir::Read(const std::string& relative) const {
  std::ifstream in(std::filesystem::path(path_) / relative, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool TempDir::Exists(const std::string& relative) const {
  return std::filesystem::exists(std::filesystem::path(path_) / relative);
}

}  // namespace dovrane::testing

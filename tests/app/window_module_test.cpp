#include "app/window_module.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace dovrane::app {
namespace {

// The module beside the program (the build tree) wins over the installed
// place; a folder of that name is no module.
TEST(WindowModuleTest, FoundBesideTheProgramElseInTheInstalledFolder) {
  testing::TempDir dir;
  const std::string bin = dir.path() + "/usr/bin", lib = "../lib/dovrane";
  std::filesystem::create_directories(bin + "/" + lib);
  EXPECT_EQ(FindWindowModule(bin, lib), "");
  std::filesystem::create_directory(bin + "/" + kWindowModuleName);
  EXPECT_EQ(FindWindowModule(bin, lib), "");
  testing::WriteFile(bin + "/" + lib + "/" + kWindowModuleName, "");
  EXPECT_EQ(FindWindowModule(bin, lib), bin + "/" + lib + "/" + kWindowModuleName);
  std::filesystem::remove(bin + "/" + kWindowModuleName);
  testing::WriteFile(bin + "/" + kWindowModuleName, "");
  EXPECT_EQ(FindWindowModule(bin, lib), bin + "/" + kWindowModuleName);
  EXPECT_EQ(FindWindowModule("", lib), "");
}

}  // namespace
}  // namespace dovrane::app

#include "app/window_program.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace dovrane::app {
namespace {

// The window's program beside this one (the build tree) wins over the
// installed place; a folder of that name is no program.
TEST(WindowProgramTest, FoundBesideTheProgramElseInTheInstalledFolder) {
  testing::TempDir dir;
  const std::string bin = dir.path() + "/usr/bin", lib = "../lib/dovrane";
  std::filesystem::create_directories(bin + "/" + lib);
  EXPECT_EQ(FindWindowProgram(bin, lib), "");
  std::filesystem::create_directory(bin + "/" + kWindowProgramName);
  EXPECT_EQ(FindWindowProgram(bin, lib), "");
  testing::WriteFile(bin + "/" + lib + "/" + kWindowProgramName, "");
  EXPECT_EQ(FindWindowProgram(bin, lib), bin + "/" + lib + "/" + kWindowProgramName);
  std::filesystem::remove(bin + "/" + kWindowProgramName);
  testing::WriteFile(bin + "/" + kWindowProgramName, "");
  EXPECT_EQ(FindWindowProgram(bin, lib), bin + "/" + kWindowProgramName);
  EXPECT_EQ(FindWindowProgram("", lib), "");
}

}  // namespace
}  // namespace dovrane::app

#include "app/window_program.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/sample_site.h"
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

// Without a display the window cannot open: the person at the terminal is
// told so and what was tried, and the run ends with 1 (not an abort whose
// reason only the trace file holds). The check-out's dialog the same.
TEST(WindowProgramTest, WithoutADisplayTheTerminalIsToldAndTheRunEnds) {
  testing::SampleSite site(4);
  std::map<std::string, std::string> env = site.Environment();
  env["QT_QPA_PLATFORM"] = "";  // Qt's own choice, as on a desktop
  env["WAYLAND_DISPLAY"] = "";
  for (const char* display : {"", ":987"}) {
    env["DISPLAY"] = display;
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"SRV1", "-checkout"}}) {
      const testing::ProgramResult r = testing::RunProgram(DOVRANE_BIN, args, env, site.start_dir());
      EXPECT_EQ(r.signal, 0) << display;
      EXPECT_EQ(r.status, 1) << display << r.err;
      EXPECT_NE(r.err.find("cannot open the main window: no display"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(*display ? "DISPLAY=:987" : "DISPLAY is not set"), std::string::npos) << r.err;
    }
  }
}

}  // namespace
}  // namespace dovrane::app

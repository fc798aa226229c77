// For the library tests of what lies in \Net or in one project's folder: the
// small installation (no host list) with the project folder
// \\SRV1\cad\prj\n0000012.prj in slot 18, and a messenger that records the
// library's own messages instead of showing them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "platform/file_util.h"
#include "support/recording_messenger.h"
#include "support/small_installation.h"

namespace dovrane::extlib {

class NetFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = installation_.dir.path();
    net_ = installation_.Native("SRV1/cad/Net");
    project_ = installation_.Native("SRV1/cad/prj/n0000012.prj");
    ASSERT_EQ(platform::MakeDirectories(project_), 0);
    lfinipC(DefaultContext(), 18, "\\\\SRV1\\cad\\prj\\n0000012.prj\\");
  }
  std::string Read(const std::string& path) {
    std::string text;
    platform::ReadWholeFile(path, &text);
    return text;
  }
  bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  testing::SmallInstallation installation_{1, /*network=*/false};
  std::string root_, net_, project_;
  testing::RecordingMessenger messages_;
};

}  // namespace dovrane::extlib

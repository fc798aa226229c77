// A temporary installation for the library tests: a UNC root with
// \\SRV1\cad\Net\ (path slot 23) and a project folder in slot 18, and a
// messenger that records the library's own messages instead of showing them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "extlib/library_init.h"
#include "platform/file_util.h"
#include "platform/messenger.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

class RecordingMessenger : public platform::Messenger {
 public:
  int MessageBox(const std::string& text, const std::string&, unsigned) override {
    texts.push_back(text);
    return platform::kIdOk;
  }
  long ShowProgressNotice(const std::string&) override { return 0; }
  void CloseProgressNotice(long) override {}
  void ProgressLine(const std::string&) override {}
  std::vector<std::string> texts;
};

class NetFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dovrane-extlib-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    old_root_ = platform::PathMap::Instance().UncRoot();
    platform::PathMap::Instance().SetUncRoot(root_);
    net_ = root_ + "/SRV1/cad/Net";
    project_ = root_ + "/SRV1/cad/prj/n0000012.prj";
    ASSERT_EQ(platform::MakeDirectories(net_), 0);
    ASSERT_EQ(platform::MakeDirectories(project_), 0);
    old_slot23_ = lfinigC(kSlotNet);
    old_slot18_ = lfinigC(18);
    lfinipC(kSlotNet, "\\\\SRV1\\cad\\Net\\");
    lfinipC(18, "\\\\SRV1\\cad\\prj\\n0000012.prj\\");
    old_messenger_ = platform::SetCurrentMessenger(&messages_);
  }
  void TearDown() override {
    platform::SetCurrentMessenger(old_messenger_);
    lfinipC(kSlotNet, old_slot23_);
    lfinipC(18, old_slot18_);
    platform::PathMap::Instance().SetUncRoot(old_root_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::string Read(const std::string& path) {
    std::string text;
    platform::ReadWholeFile(path, &text);
    return text;
  }
  bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  std::string root_, net_, project_;
  RecordingMessenger messages_;

 private:
  std::string old_root_, old_slot23_, old_slot18_;
  platform::Messenger* old_messenger_ = nullptr;
};

}  // namespace dovrane::extlib

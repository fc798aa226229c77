// --dry-run through the real program: the preview leaves every byte and time
// stamp of the installation as it was and prints what the real run then does.
#include "app/dry_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/sample_installation.h"
#include "support/temp_dir.h"

namespace dovrane::app {
namespace {

namespace fs = std::filesystem;

// Every entry below root: its bytes (files), its link target, its modification time.
std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot(const std::string& root) {
  std::map<std::string, std::pair<std::string, fs::file_time_type>> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string path = e.path().string();
    std::string content = e.is_symlink() ? fs::read_symlink(e.path()).string()
                          : e.is_regular_file() ? testing::ReadFile(path)
                                                : std::string();
    out[path] = {content, e.is_symlink() ? fs::file_time_type() : fs::last_write_time(e.path())};
  }
  return out;
}

TEST(DryRunTest, PreviewChangesNothingAndPrintsWhatTheRunThenDoes) {
  const std::vector<std::vector<std::string>> forms = {
      {"-restore"}, {"-usercfg", "100"}, {"-update", "SRV2"}, {"-checkin", "Handmade.prj"}};
  for (auto form : forms) {
    SCOPED_TRACE(form[0]);
    testing::SampleInstallation inst({"--hosts", "2", "--projects", "8"});
    // Something to repair: a folder gone by hand, a folder the administration does not know.
    const std::string prj = inst.unc_root() + "/SRV2/cad/Prj/";
    for (const auto& e : fs::directory_iterator(prj)) {
      fs::rename(e.path(), prj + "Handmade.prj");
      break;
    }
    if (form[0] == "-checkin") form[1] = prj + form[1];  // the native path of the real folder
    const auto before = Snapshot(inst.unc_root());
    std::vector<std::string> args = {"--dry-run"};
    args.insert(args.end(), form.begin(), form.end());
    const testing::ProgramResult preview = inst.Run(args);
    EXPECT_EQ(preview.status, 0) << preview.err;
    EXPECT_TRUE(Snapshot(inst.unc_root()) == before);
    const testing::ProgramResult real = inst.Run(form);
    EXPECT_EQ(preview.out, real.out);
    EXPECT_EQ(preview.err, real.err);
    EXPECT_FALSE(Snapshot(inst.unc_root()) == before);  // the real run did change what the preview named
  }
}

// Links in the shared folders never lead a preview out of its copy: a Net
// folder an administrator moved elsewhere and linked is copied and worked on
// there; project.dat or the backup folder linked to another place stay as
// they are, whatever the repair would write.
TEST(DryRunTest, APreviewWritesNothingThroughLinks) {
  struct Shape {
    const char* what;
    std::vector<std::string> form;
  };
  const Shape shapes[] = {
      {"net", {"-restore"}},        {"net", {"-update"}},        {"project.dat", {"-update", "SRV2"}},
      {"project.dat", {"-restore"}}, {"project.dat", {"-checkin", "Handmade.prj"}}, {"backup", {"-restore"}},
  };
  for (Shape shape : shapes) {
    SCOPED_TRACE(std::string(shape.what) + " " + shape.form[0]);
    testing::SampleInstallation inst({"--hosts", "2", "--projects", "8"});
    testing::TempDir outside;
    const std::string net = inst.unc_root() + "/SRV1/cad/Net";
    const std::string prj = inst.unc_root() + "/SRV2/cad/Prj/";
    for (const auto& e : fs::directory_iterator(prj)) {
      fs::rename(e.path(), prj + "Handmade.prj");
      break;
    }
    if (shape.form[0] == "-checkin") shape.form[1] = prj + shape.form[1];
    const std::string what = shape.what;
    if (what == "net") {
      // The real Net folder lies elsewhere; its administration is gone.
      fs::rename(net, outside.path() + "/Net");
      fs::create_directory_symlink(outside.path() + "/Net", net);
      fs::remove(outside.path() + "/Net/project.dat");
    } else if (what == "project.dat") {
      fs::rename(net + "/project.dat", outside.path() + "/project.dat");
      fs::create_symlink(outside.path() + "/project.dat", net + "/project.dat");
    } else {
      fs::create_directory(outside.path() + "/elsewhere");
      testing::WriteFile(outside.path() + "/elsewhere/keep.txt", "keep");
      fs::remove_all(net + "/backup");
      fs::create_directory_symlink(outside.path() + "/elsewhere", net + "/backup");
    }
    const auto before = Snapshot(outside.path()), inside = Snapshot(inst.unc_root());
    std::vector<std::string> args = {"--dry-run"};
    args.insert(args.end(), shape.form.begin(), shape.form.end());
    const testing::ProgramResult preview = inst.Run(args);
    EXPECT_EQ(preview.status, 0) << preview.err;
    EXPECT_TRUE(Snapshot(outside.path()) == before) << preview.out << preview.err;
    EXPECT_TRUE(Snapshot(inst.unc_root()) == inside);
  }
}

// The copy a preview works on has every byte, mode and time of the original.
TEST(DryRunTest, TreeCopyKeepsBytesModesTimesAndLinks) {
  testing::TempDir dir;
  const std::string from = dir.path() + "/from", to = dir.path() + "/to";
  fs::create_directories(from + "/sub");
  testing::WriteFile(from + "/sub/f", "bytes");
  fs::permissions(from + "/sub/f", fs::perms::owner_read);
  fs::create_symlink("sub/f", from + "/link");
  fs::last_write_time(from + "/sub", fs::file_time_type::clock::now() - std::chrono::hours(50));
  ASSERT_EQ(CopyTreeForDryRun(from, to), 0);
  EXPECT_EQ(testing::ReadFile(to + "/sub/f"), "bytes");
  EXPECT_EQ(fs::status(to + "/sub/f").permissions(), fs::perms::owner_read);
  EXPECT_EQ(fs::read_symlink(to + "/link"), "sub/f");
  EXPECT_EQ(fs::last_write_time(to + "/sub"), fs::last_write_time(from + "/sub"));
  EXPECT_EQ(fs::last_write_time(to + "/sub/f"), fs::last_write_time(from + "/sub/f"));
  EXPECT_LT(CopyTreeForDryRun(from, to), 0);  // never into an existing folder
}

}  // namespace
}  // namespace dovrane::app

#include "extlib/installation/slot_files.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "platform/fault_injection_env.h"
#include "platform/path_map.h"
#include "support/temp_dir.h"

namespace dovrane::extlib {
namespace {

// Renames fail as between two hosts, so moves must copy.
class CrossHostEnv : public platform::FaultInjectionEnv {
 public:
  int Rename(const std::string& from, const std::string& to) override {
    return from.find("/Prj/") != std::string::npos ? -EXDEV : FaultInjectionEnv::Rename(from, to);
  }
};

class SlotFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::PathMap::Instance().SetUncRoot(dir_.path());
    lfinipC(DefaultContext(), 23, "\\\\SRV\\cad\\Net\\");
    dir_.Write("SRV/cad/Net/project.dat", " 3n0000000\r\n");
    dir_.Write("SRV/cad/Prj/n0000001.prj/version.txt", "20\n");
    dir_.Write("SRV/cad/Prj/n0000001.prj/sub/data.bin", std::string(3000, 'x'));
  }
  void TearDown() override { platform::SetCurrentEnv(nullptr); }
  testing::TempDir dir_;
};

TEST_F(SlotFilesTest, NamesNeverLeaveTheSlot) {
  std::string path;
  for (const char* bad : {"..\\x", "a\\..\\..\\b", "\\abs", "C:x", ""})
    EXPECT_EQ(lffnamC_new(DefaultContext(), 23, bad, &path), -1) << bad;
  EXPECT_EQ(lffnamC(DefaultContext(), 23, "project.dat", &path), 0);
  EXPECT_EQ(path, "\\\\SRV\\cad\\Net\\project.dat");
  EXPECT_EQ(lffnamC(DefaultContext(), 23, "PROJECT.DAT", &path), 0);  // case-insensitive as on the server
  EXPECT_EQ(lffnamC(DefaultContext(), 23, "data.cfg", &path), -2);
  EXPECT_EQ(lffnamC(DefaultContext(), 40, "x", &path), -1);  // unset slot
}

TEST_F(SlotFilesTest, TypesAndRenames) {
  EXPECT_EQ(lftypeC(DefaultContext(), 23, "project.dat", 0), 0);
  EXPECT_LT(lftypeC(DefaultContext(), 23, "missing", 0), 0);
  dir_.Write("SRV/cad/Net/other", "x");
  EXPECT_EQ(lfilmvC(DefaultContext(), 23, "other", 23, "project.dat", 0), -EEXIST);
  EXPECT_EQ(dir_.Read("SRV/cad/Net/project.dat"), " 3n0000000\r\n");
  EXPECT_EQ(lfilmvC(DefaultContext(), 23, "project.dat", 23, "project.dat.old", 1), 0);
  EXPECT_TRUE(dir_.Exists("SRV/cad/Net/project.dat.old"));
}

TEST_F(SlotFilesTest, FolderSizeInKilobytes) {
  lfinipC(DefaultContext(), 18, "\\\\SRV\\cad\\Prj\\n0000001.prj\\");
  double kb = 0;
  ASSERT_EQ(ldirleC(DefaultContext(), 18, 1, &kb), 0);
  EXPECT_DOUBLE_EQ(kb, 3003 / 1024.0);
  ASSERT_EQ(ldirleC(DefaultContext(), 18, 0, &kb), 0);
  EXPECT_DOUBLE_EQ(kb, 3 / 1024.0);
  lfinipC(DefaultContext(), 19, "\\\\SRV\\cad\\Prj\\n0000009.prj\\");
  EXPECT_LT(ldirexC(DefaultContext(), 19, 0), 0);
  EXPECT_LT(ldirleC(DefaultContext(), 19, 1, &kb), 0);
}

TEST_F(SlotFilesTest, MoveAcrossHostsCopiesVerifiesAndRemoves) {
  CrossHostEnv env;
  platform::SetCurrentEnv(&env);
  ASSERT_EQ(ldirreC(DefaultContext(), "\\\\SRV\\cad\\Prj\\n0000001.prj", "\\\\SRV\\cad\\Prj\\n0000002.prj"), 0);
  EXPECT_FALSE(dir_.Exists("SRV/cad/Prj/n0000001.prj"));
  EXPECT_EQ(dir_.Read("SRV/cad/Prj/n0000002.prj/sub/data.bin"), std::string(3000, 'x'));
}

TEST_F(SlotFilesTest, FailedCopyLeavesTheSourceWholeAndNoTarget) {
  CrossHostEnv env;
  env.Arm(platform::FaultPoint::kWrite, 2, ENOSPC);
  platform::SetCurrentEnv(&env);
  EXPECT_EQ(ldirreC(DefaultContext(), "\\\\SRV\\cad\\Prj\\n0000001.prj", "\\\\SRV\\cad\\Prj\\n0000002.prj"), -ENOSPC);
  EXPECT_FALSE(dir_.Exists("SRV/cad/Prj/n0000002.prj"));
  EXPECT_EQ(dir_.Read("SRV/cad/Prj/n0000001.prj/sub/data.bin"), std::string(3000, 'x'));
}

}  // namespace
}  // namespace dovrane::extlib

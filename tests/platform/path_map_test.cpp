#include "platform/path_map.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace dovrane::platform {
namespace {

class PathMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    map_.SetUncRoot(dir_ / "unc");
    map_.SetDriveFolder('x', dir_ / "drive-x");
    std::filesystem::create_directories(dir_ / "unc/SRV1/cad/Std/Vorlagen");
    std::filesystem::create_directories(dir_ / "drive-x/Prj");
  }
  testing::TempDir dir_;
  PathMap map_;
};

TEST_F(PathMapTest, WindowsFormsMapBelowTheirRoots) {
  EXPECT_EQ(map_.ToNativeLexical("\\\\SRV1\\cad\\Net\\project.dat"), dir_ / "unc/SRV1/cad/Net/project.dat");
  EXPECT_EQ(map_.ToNativeLexical("X:\\Prj\\n0000042.prj"), dir_ / "drive-x/Prj/n0000042.prj");
  EXPECT_EQ(map_.ToNativeLexical("x:\\"), dir_ / "drive-x");
  EXPECT_EQ(map_.ToNativeLexical("Q:\\nowhere"), "");  // an unmapped drive reaches nothing
  EXPECT_EQ(map_.ToNativeLexical("/already/native"), "/already/native");
  EXPECT_EQ(map_.ToNativeLexical("\\\\SRV1\\cad\\.\\Net\\\\x"), dir_ / "unc/SRV1/cad/Net/x");
}

TEST_F(PathMapTest, ComponentsMatchInAnyLetterCaseAndNewNamesKeepTheirSpelling) {
  EXPECT_EQ(map_.ToNative("\\\\srv1\\CAD\\STD\\vorlagen"), dir_ / "unc/SRV1/cad/Std/Vorlagen");
  EXPECT_EQ(map_.ToNative("\\\\SRV1\\cad\\std\\NewFolder\\File.TXT"), dir_ / "unc/SRV1/cad/Std/NewFolder/File.TXT");
  EXPECT_EQ(map_.ToNative("x:\\PRJ"), dir_ / "drive-x/Prj");
}

TEST_F(PathMapTest, WindowsLettersReachUtf8Names) {
  std::filesystem::create_directories(dir_ / "unc/SRV1/cad/M\xC3\xBCller");  // Müller on disk
  EXPECT_EQ(map_.ToNative("\\\\SRV1\\cad\\M\xDCLLER"), dir_ / "unc/SRV1/cad/M\xC3\xBCller");
}

TEST_F(PathMapTest, NativePathsBelowARootReadAsTheirWindowsForm) {
  EXPECT_EQ(map_.ToWindows(dir_ / "unc/SRV1/cad/Prj/x.prj"), "\\\\SRV1\\cad\\Prj\\x.prj");
  EXPECT_EQ(map_.ToWindows(dir_ / "drive-x/Prj"), "X:\\Prj");
  EXPECT_EQ(map_.ToWindows(dir_ / "drive-x"), "X:\\");
  EXPECT_EQ(map_.ToWindows("\\\\SRV1\\cad"), "\\\\SRV1\\cad");
  EXPECT_EQ(map_.ToWindows("/elsewhere/x"), "/elsewhere/x");
  // A folder whose name only starts like the root is not below it.
  EXPECT_EQ(map_.ToWindows(dir_ / "unc2/SRV1"), dir_ / "unc2/SRV1");
}

}  // namespace
}  // namespace dovrane::platform

#include "platform/file_attributes.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "support/temp_dir.h"

namespace dovrane::platform {
namespace {

TEST(FileAttributesTest, ReadOnlyAndHiddenMarksComeAndGo) {
  testing::TempDir dir;
  std::string path = dir / "SRV2.out";
  testing::WriteFile(path, "x");
  unsigned a = 0;
  ASSERT_EQ(GetFileAttributes(path, &a), 0);
  EXPECT_EQ(a, kAttrNormal);
  ASSERT_EQ(SetFileAttributes(path, kAttrReadOnly | kAttrHidden), 0);
  ASSERT_EQ(GetFileAttributes(path, &a), 0);
  EXPECT_TRUE(a & kAttrReadOnly);
  if (::geteuid() != 0) {
    EXPECT_NE(::access(path.c_str(), W_OK), 0);
  }
  ASSERT_EQ(SetFileAttributes(path, kAttrNormal), 0);
  ASSERT_EQ(GetFileAttributes(path, &a), 0);
  EXPECT_EQ(a, kAttrNormal);  // hidden is gone too, whether or not the file system kept it
  EXPECT_EQ(::access(path.c_str(), W_OK), 0);
  EXPECT_EQ(GetFileAttributes(dir / "missing", &a), -ENOENT);
}

}  // namespace
}  // namespace dovrane::platform

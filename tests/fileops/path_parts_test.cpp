#include "fileops/path_parts.h"

#include <gtest/gtest.h>

namespace dovrane::fileops {
namespace {

TEST(PathPartsTest, DirectoryChainKeepsServerShareAndDriveFixed) {
  struct Case {
    std::string dir;
    std::vector<std::string> chain;
    size_t fixed;
  } cases[] = {
      {"\\\\SRV1\\cad\\Net\\Sub", {"\\\\SRV1", "\\\\SRV1\\cad", "\\\\SRV1\\cad\\Net", "\\\\SRV1\\cad\\Net\\Sub"}, 2},
      {"\\\\SRV1", {"\\\\SRV1"}, 1},
      {"C:\\Prj\\n0000001.prj", {"C:", "C:\\Prj", "C:\\Prj\\n0000001.prj"}, 1},
      {"/tmp/a//b/", {"/tmp", "/tmp/a", "/tmp/a/b"}, 0},
      {"\\Net\\x", {"\\Net", "\\Net\\x"}, 0},
      {"rel/dir", {"rel", "rel/dir"}, 0},
  };
  for (const Case& c : cases) {
    size_t fixed = 99;
    EXPECT_EQ(DirectoryChain(c.dir, &fixed), c.chain) << c.dir;
    EXPECT_EQ(fixed, c.fixed) << c.dir;
  }
}

TEST(PathPartsTest, ParentAndJoinFollowThePathsForm) {
  struct Case {
    std::string path, parent;
  } cases[] = {{"\\\\SRV\\cad\\Net\\project.dat", "\\\\SRV\\cad\\Net"},
               {"/tmp/x/f.bin", "/tmp/x"},
               {"C:\\f.txt", "C:"},
               {"f.txt", ""}};
  for (const Case& c : cases) EXPECT_EQ(ParentPath(c.path), c.parent) << c.path;
  EXPECT_EQ(JoinPath("\\\\SRV\\cad", "Net"), "\\\\SRV\\cad\\Net");
  EXPECT_EQ(JoinPath("/tmp/x", "f"), "/tmp/x/f");
  EXPECT_EQ(JoinPath("C:\\", "f"), "C:\\f");
}

}  // namespace
}  // namespace dovrane::fileops

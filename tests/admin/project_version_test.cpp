#include "admin/project_version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "support/small_installation.h"

namespace dovrane::admin {
namespace {

constexpr char kFolder[] = "\\\\SRV1\\cad\\Prj\\n0000001.prj";

TEST(ProjectVersionTest, FirstNumberOfTheFileAsPercentDReadsIt) {
  testing::SmallInstallation inst;
  const std::pair<std::string, int> cases[] = {{"20\r\n", 20}, {"  7 8\n", 7}, {"-3", -3}, {"+12x", 12}};
  for (const auto& [text, expected] : cases) {
    inst.dir.Write("SRV1/cad/Prj/n0000001.prj/version.txt", text);
    int version = 0;
    ASSERT_TRUE(ReadProjectVersion(extlib::DefaultContext(), extlib::kSlotProjectWork, kFolder, &version)) << text;
    EXPECT_EQ(version, expected) << text;
    EXPECT_EQ(extlib::lfinigC(extlib::DefaultContext(), extlib::kSlotProjectWork), std::string(kFolder) + "\\");
  }
}

TEST(ProjectVersionTest, NoNumberNoFileAndHostileFilesGiveNoVersion) {
  testing::SmallInstallation inst;
  const std::string file = inst.Native("SRV1/cad/Prj/n0000001.prj/version.txt");
  int version = 5;
  EXPECT_FALSE(ReadProjectVersion(extlib::DefaultContext(), extlib::kSlotConversion, kFolder, &version));  // no folder
  for (const char* text : {"", "x1", "99999999999\n"}) {
    inst.dir.Write("SRV1/cad/Prj/n0000001.prj/version.txt", text);
    EXPECT_FALSE(ReadProjectVersion(extlib::DefaultContext(), extlib::kSlotConversion, kFolder, &version)) << text;
  }
  std::filesystem::remove(file);
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);  // would hold a plain open forever
  EXPECT_FALSE(ReadProjectVersion(extlib::DefaultContext(), extlib::kSlotConversion, kFolder, &version));
  EXPECT_EQ(version, 5);
}

}  // namespace
}  // namespace dovrane::admin

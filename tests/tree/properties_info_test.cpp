// The properties dialog's lines and the volume's free space.
#include "tree/properties_info.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "extlib/installation/operation_context.h"
#include "support/temp_dir.h"

namespace dovrane::tree {
namespace {

PropertiesInfo Labelled(int second_count) {
  PropertiesInfo info;
  info.type_text = "Projekt";
  info.first_count_label = "Dateien:";
  info.second_count_label = "Projekte:";
  info.number = 12;
  info.first_count = 7;
  info.second_count = second_count;
  info.size = 1.5;
  return info;
}

TEST(PropertiesInfoTest, TypeAndInfoLines) {
  EXPECT_EQ(TypeLine(Labelled(-1)), "Projekt [12]");
  EXPECT_EQ(InfoLine(Labelled(-1)), "Dateien: 7  (1.50 MB)");
  EXPECT_EQ(TypeLine(Labelled(3)), "Projekt");
  EXPECT_EQ(InfoLine(Labelled(3)), "Projekte: 3 / Dateien: 7  (1.50 MB)");
  // A cancelled measurement shows 0 files of 0 MB.
  const PropertiesInfo cancelled = ProjectProperties("P", "\\\\SRV1\\cad\\Prj\\n0000012.prj", 12, -1, 5000);
  EXPECT_EQ(cancelled.first_count, 0);
  EXPECT_EQ(cancelled.size, 0.0);
  EXPECT_EQ(cancelled.second_count, -1);
  EXPECT_EQ(HostProperties(true, "SRV1", "\\\\SRV1\\cad\\Prj", 0, 4, 3 << 20, 2).size, 3.0);
}

TEST(PropertiesInfoTest, FreeSpaceAsDfSeesIt) {
  EXPECT_EQ(FreeSpaceText(1ull << 30), "1024 MB (1.00 GB)");
  EXPECT_EQ(FreeSpaceText(0), "0 MB (0.00 GB)");
  EXPECT_EQ(FreeSpaceLine(extlib::DefaultContext(), "/no/such/folder/anywhere"), "0 MB (0.00 GB)");
  testing::TempDir dir;
  FILE* df = ::popen(("df -B1M --output=avail " + dir.path() + " | tail -1").c_str(), "r");
  char buf[64] = {};
  ASSERT_NE(std::fgets(buf, sizeof buf, df), nullptr);
  ::pclose(df);
  const double shown = std::atof(FreeSpaceLine(extlib::DefaultContext(), dir.path()).c_str());
  EXPECT_NEAR(shown, std::atof(buf), 2.0);  // df rounds up; the volume may change a little meanwhile
}

}  // namespace
}  // namespace dovrane::tree

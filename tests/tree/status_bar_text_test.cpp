#include "tree/status_bar_text.h"

#include <gtest/gtest.h>

#include "services/ui_text_table.h"
#include "tree/tree_fixture.h"

namespace dovrane::tree {
namespace {

TEST(StatusBarTextTest, ProjectHostChildAndNoItem) {
  TreeFixture fixture;
  auto table = fixture.Build();
  const std::string net = "\\\\SRV1\\cad\\Net";
  ProjectRecord* alpha = &table->FindHost("SRV2")->projects[0];
  alpha->SetLocation("\\\\SRV2\\cad\\Prj\\n0000001.prj");
  EXPECT_EQ(ItemStatusBarTexts(alpha, -1, net), (std::vector<std::string>{"Alpha", alpha->location()}));
  const std::string projects = " " + services::UiText(114, 4103);
  EXPECT_EQ(ItemStatusBarTexts(table->FindHost("SRV2"), -1, net),
            (std::vector<std::string>{"SRV2", "3" + projects, services::UiText(1, 9) + " \\\\SRV2\\cad\\Prj"}));
  EXPECT_EQ(ItemStatusBarTexts(table->FindHost("SRV1"), -1, net),
            (std::vector<std::string>{"SRV1", "2" + projects, services::UiText(114, 4104) + ": \\\\SRV1\\cad\\Prj"}));
  // SRV3 is in no data.cfg line: it has no project directory.
  EXPECT_EQ(ItemStatusBarTexts(table->FindHost("SRV3"), -1, net)[2], services::UiText(114, 4104) + ": " + net);
  EXPECT_EQ(ItemStatusBarTexts(alpha, 0, net), (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(NoItemStatusBarTexts("", "SRV2"), (std::vector<std::string>{"SRV2", "   ", "   "}));
  EXPECT_EQ(NoItemStatusBarTexts("SRV1", "SRV2")[0], "SRV1");
}

}  // namespace
}  // namespace dovrane::tree

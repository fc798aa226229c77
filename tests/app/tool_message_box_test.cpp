#include "app/tool_message_box.h"

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "platform/messenger.h"
#include "support/recording_messenger.h"

namespace dovrane::app {
namespace {

TEST(ToolMessageBoxTest, LongTextsAreShownWhole) {
  testing::RecordingMessenger m;
  const std::string members(5000, 'M');  // the member list of a large installation
  ToolMessageBox(kMessageInformation, "PrjMembers:  %s\n", members.c_str());
  ASSERT_EQ(m.messages.size(), 1u);
  EXPECT_EQ(m.messages[0].text, "PrjMembers:  " + members + "\n");
  EXPECT_EQ(m.messages[0].caption, g_caption);
}

TEST(ToolMessageBoxTest, IconsFollowTheKindUnlessTheQuestionNamesOne) {
  const std::tuple<int, unsigned, unsigned> cases[] = {
      {kMessageWarning, platform::kMbOk, platform::kMbIconWarning},
      {kMessageError, platform::kMbOk, platform::kMbIconError},
      {kMessageInformation, platform::kMbOk, platform::kMbIconInformation},
      {kMessageWarning, platform::kMbYesNo | platform::kMbIconQuestion, platform::kMbIconQuestion},
  };
  for (const auto& [kind, buttons, icon] : cases) {
    testing::RecordingMessenger m;
    ToolQuestionBox(kind, buttons, "%s", "text");
    ASSERT_EQ(m.messages.size(), 1u);
    EXPECT_EQ(m.messages[0].flags & platform::kMbIconMask, icon) << kind;
    EXPECT_EQ(m.messages[0].flags & platform::kMbButtonMask, buttons & platform::kMbButtonMask) << kind;
  }
}

}  // namespace
}  // namespace dovrane::app

#include "services/tool_message_box.h"

#include <gtest/gtest.h>

#include "extlib/installation/messages.h"
#include "extlib/installation/operation_context.h"
#include "platform/messenger.h"
#include "support/recording_messenger.h"

namespace dovrane::services {
namespace {

TEST(ToolMessageBoxTest, LongTextsAreShownWhole) {
  testing::RecordingMessenger m;
  const std::string members(5000, 'M');  // the member list of a large installation
  services::ToolMessageBox(extlib::DefaultContext(), services::kMessageInformation, "PrjMembers:  %s\n",
                           members.c_str());
  ASSERT_EQ(m.messages.size(), 1u);
  EXPECT_EQ(m.messages[0].text, "PrjMembers:  " + members + "\n");
  EXPECT_EQ(m.messages[0].caption, extlib::kCaption);
}

TEST(ToolMessageBoxTest, IconsFollowTheKindUnlessTheQuestionNamesOne) {
  const std::tuple<int, unsigned, unsigned> cases[] = {
      {services::kMessageWarning, platform::kMbOk, platform::kMbIconWarning},
      {services::kMessageError, platform::kMbOk, platform::kMbIconError},
      {services::kMessageInformation, platform::kMbOk, platform::kMbIconInformation},
      {services::kMessageWarning, platform::kMbYesNo | platform::kMbIconQuestion, platform::kMbIconQuestion},
  };
  for (const auto& [kind, buttons, icon] : cases) {
    testing::RecordingMessenger m;
    services::ToolQuestionBox(extlib::DefaultContext(), kind, buttons, "%s", "text");
    ASSERT_EQ(m.messages.size(), 1u);
    EXPECT_EQ(m.messages[0].flags & platform::kMbIconMask, icon) << kind;
    EXPECT_EQ(m.messages[0].flags & platform::kMbButtonMask, buttons & platform::kMbButtonMask) << kind;
  }
}

}  // namespace
}  // namespace dovrane::services

#include "app/projects/project_error.h"

#include <gtest/gtest.h>

#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "platform/messenger.h"
#include "support/recording_messenger.h"

namespace dovrane::app {
namespace {

// A value no operation should pass on ends as a general failure, never as
// itself (ENOSPC's -28 read as 228) nor as another code.
TEST(ProjectErrorTest, OnlyProjectCodesBecomeExitStatuses) {
  const std::pair<int, int> cases[] = {{0, 0},    {1, 1},   {-3, -3},  {-13, -13}, {-22, -22},
                                       {-28, -1}, {-9, -1}, {-23, -1}, {2, -1},    {-122, -1}};
  for (const auto& [result, status] : cases) EXPECT_EQ(ExitStatusOf(result), status) << result;
}

TEST(ProjectErrorTest, EveryCodeShowsItsTextAsWarning) {
  const std::pair<int, const char*> cases[] = {
      {-2, "Project file does not exist"},
      {-3, "Project does not exist"},
      {-4, "Project already exists"},
      {-5, "Selected function not permitted with private project"},
      {-8, "Invalid project name"},
      {-10, "Unable to create configuration file"},
      {-11, "Interrupted by user"},
      {-12, "No computers registered in network"},
      {-13, "No access rights for project"},
      {-14, "You do not have owner's rights to the project"},
      {-16, "Project is compressed"},
      {-17, "Project is already linked to database"},
      {-19, "Unknown computer in Project Manager"},
      {-20, "Computer cannot be accessed!"},
      {-21, "Project from another version!"},
      {-9, "ERROR=-9 "},
      {-1, "ERROR=-1 "},
      {-15, "ERROR=-15 "},
      {0, "ERROR=0 "},
      {7, "ERROR=7 "},
  };
  for (const auto& [code, text] : cases) {
    testing::RecordingMessenger m;
    ReportProjectError(extlib::DefaultContext(), code);
    ASSERT_EQ(m.messages.size(), 1u) << code;
    EXPECT_EQ(m.messages[0].text, std::string(text) + "\n") << code;
    EXPECT_EQ(m.messages[0].flags & platform::kMbIconMask, platform::kMbIconWarning) << code;
  }
}

TEST(ProjectErrorTest, FourCodesShowTheLanguageNotice) {
  const std::pair<int, long> cases[] = {{-6, 2200206}, {-7, 2500453}, {-18, 2500455}, {-22, 2500454}};
  for (const auto& [code, number] : cases) {
    testing::RecordingMessenger m;
    ReportProjectError(extlib::DefaultContext(), code);
    ASSERT_EQ(m.messages.size(), 1u) << code;
    EXPECT_EQ(m.messages[0].text, extlib::LanguageText(number, 1)) << code;
    EXPECT_EQ(m.messages[0].text.find("<text"), std::string::npos) << "language text missing for " << code;
  }
}

}  // namespace
}  // namespace dovrane::app

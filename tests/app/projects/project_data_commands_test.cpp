// Reorganisation, new identifiers and attribute reload through the program.
#include "app/projects/project_data_commands.h"

#include <gtest/gtest.h>

#include <set>

#include "app/command_table.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/attribute_cache_file.h"
#include "extlib/projects/project_attributes.h"
#include "extlib/projects/project_data_file.h"
#include "support/recording_messenger.h"
#include "support/sample_site.h"

namespace dovrane::app {
namespace {

class ProjectDataCommandsTest : public ::testing::Test {
 protected:
  std::string Dir(uint32_t number) {
    extlib::PRJ r;
    EXPECT_TRUE(site_.Record(number, &r));
    return site_.ProjectDir(r.host, number);
  }
  extlib::ProjectData Data(uint32_t number) {
    extlib::ProjectData data;
    EXPECT_EQ(extlib::ReadProjectData(Dir(number), &data), 0);
    return data;
  }
  testing::SampleSite site_{6};
};

TEST_F(ProjectDataCommandsTest, ReorgDropsDeletedObjectsAndRenewGivesNewIdentifiers) {
  extlib::ProjectData data = Data(1);
  ASSERT_GE(data.objects.size(), 2u);
  data.objects[1].deleted = true;
  ASSERT_EQ(extlib::WriteProjectData(Dir(1), data), 0);
  auto r = site_.Run({site_.Name(1), "-reorg"});
  ASSERT_EQ(r.status, 0) << r.err;
  extlib::ProjectData reorganised = Data(1);
  EXPECT_EQ(reorganised.objects.size(), data.objects.size() - 1);
  EXPECT_EQ(reorganised.Find(data.objects[1].id), nullptr);

  r = site_.Run({site_.Name(1), "-renewUUIDs"});
  ASSERT_EQ(r.status, 0) << r.err;
  extlib::ProjectData renewed = Data(1);
  ASSERT_EQ(renewed.objects.size(), reorganised.objects.size());
  std::multiset<std::string> before, after;
  for (const auto& o : reorganised.objects) {
    before.insert(o.type + "/" + o.name);
    EXPECT_EQ(renewed.Find(o.id), nullptr) << o.name;
  }
  for (const auto& o : renewed.objects) after.insert(o.type + "/" + o.name);
  EXPECT_EQ(before, after);
}

TEST_F(ProjectDataCommandsTest, DamagedDataIsReportedAndLeftAlone) {
  const std::string file = Dir(2) + "/" + extlib::kProjectObjectsFile;
  testing::WriteFile(file, "not project data\r\n");
  for (const char* option : {"-reorg", "-renewUUIDs"}) {
    auto r = site_.Run({site_.Name(2), option});
    EXPECT_EQ(r.status, 255) << option;
    EXPECT_NE(r.err, "") << option;
    EXPECT_EQ(testing::ReadFile(file), "not project data\r\n");
  }
  // In this process too; the record lock is released on the failure path,
  // so another process gets it at once.
  site_.Activate();
  testing::RecordingMessenger messages;
  EXPECT_EQ(ReorganiseProject(extlib::DefaultContext(), PadProjectName(site_.Name(2))), -1);
  EXPECT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(site_.Run({site_.Name(2), "-unblock"}).status, 0);
}

// An administration with an unreadable record elsewhere: the project is not
// "gone", the administration cannot be read.
TEST_F(ProjectDataCommandsTest, UnreadableAdministrationIsReportedAsSuch) {
  const std::string file = site_.NetDir() + "/project.dat";
  std::string admin = testing::ReadFile(file);
  size_t line = 0;
  for (int i = 0; i < 4; ++i) line = admin.find('\n', line) + 1;  // the fourth record
  admin.replace(line + 51, 8, "nXYZ0004");
  testing::WriteFile(file, admin);
  for (const char* option : {"-reorg", "-renewUUIDs"}) {
    auto r = site_.Run({site_.Name(2), option});
    EXPECT_EQ(r.status, 255) << option;
    EXPECT_NE(r.err.find("can not be read (record 4)"), std::string::npos) << option << r.err;
  }
  EXPECT_EQ(testing::ReadFile(file), admin);
  // A header that cannot be read is no missing administration either.
  testing::WriteFile(file, "xx" + admin.substr(2));
  auto r = site_.Run({site_.Name(2), "-reorg"});
  EXPECT_EQ(r.status, 255) << r.err;
  EXPECT_EQ(r.err.find("Project file does not exist"), std::string::npos) << r.err;
}

TEST_F(ProjectDataCommandsTest, UpdateAttrLoadsTheDiskCache) {
  std::string text;
  ASSERT_EQ(extlib::FormatAttributeCache({{"PRJ_DESCRIPTION", "Halle B"}, {"CLIENT", "Stadt"}}, &text), 0);
  testing::WriteFile(Dir(3) + "/" + extlib::kAttributeCacheFileName, text);
  auto r = site_.Run({site_.Name(3), "-updateattr"});
  ASSERT_EQ(r.status, 0) << r.err;
  extlib::RX_ProjectAttributes attributes(extlib::kSlotNet);
  std::string value;
  EXPECT_EQ(attributes.getAttribute(3, "CLIENT", &value), 0);
  EXPECT_EQ(value, "Stadt");
  // Without a cache file there is nothing to load.
  EXPECT_EQ(site_.Run({site_.Name(4), "-updateattr"}).status, 0);
  // A damaged one is reported and changes nothing.
  testing::WriteFile(Dir(3) + "/" + extlib::kAttributeCacheFileName, "garbage");
  r = site_.Run({site_.Name(3), "-updateattr"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("is damaged"), std::string::npos) << r.err;
  attributes.close();
  EXPECT_EQ(attributes.getAttribute(3, "CLIENT", &value), 0);
}

}  // namespace
}  // namespace dovrane::app

#include "extlib/projects/project_data.h"

#include <cerrno>
#include <set>

#include "extlib/installation/operation_context.h"
#include "extlib/net_folder_fixture.h"
#include "extlib/projects/checksum.h"
#include "extlib/projects/project_data_file.h"
#include "platform/fault_injection_env.h"

namespace dovrane::extlib {
namespace {

constexpr char kA[] = "00000000-0000-4000-8000-00000000000a";
constexpr char kB[] = "00000000-0000-4000-8000-00000000000b";
constexpr char kC[] = "00000000-0000-4000-8000-00000000000c";
constexpr char kD[] = "00000000-0000-4000-8000-00000000000d";

// A whole object file around the given object lines (each ending in "\n").
std::string Sealed(const std::string& lines, int count) {
  std::string text = "DOVRANE-PROJECTDATA 1\n" + lines;
  return text + "END " + std::to_string(count) + " " + Crc32Hex(text) + "\n";
}

std::string Line(const char* id, const char* type, const char* state, const std::string& name,
                 const std::string& refs) {
  return std::string(id) + "\t" + type + "\t" + state + "\t" + name + "\t" + refs + "\n";
}

// Names of the objects an object refers to: the shape that must survive.
std::multiset<std::string> RefNames(const ProjectData& data, const ProjectObject& o) {
  std::multiset<std::string> names;
  for (const Uuid& ref : o.refs) names.insert(data.Find(ref) ? data.Find(ref)->name : "?");
  return names;
}

class ProjectDataTest : public NetFolderTest {
 protected:
  std::string Objects() { return project_ + "/objects.dat"; }
  // Project with a deleted object, references to it, a dangling and a repeated one.
  void WriteMessyProject() {
    std::string lines = Line(kD, "VIEW", "A", "Plan", std::string(kC) + "," + kC) +
                        Line(kB, "LAYER", "D", "Old", "") +
                        Line(kA, "PROJECT", "A", "Project",
                             std::string(kB) + "," + kC + ",00000000-0000-4000-8000-0000000000ff") +
                        Line(kC, "LAYER", "A", "0", kB);
    ASSERT_EQ(platform::WriteFileAtomic(Objects(), Sealed(lines, 4)), 0);
  }
  ProjectData Load() {
    ProjectData data;
    EXPECT_EQ(ReadProjectData(project_, &data), 0);
    return data;
  }
};

TEST_F(ProjectDataTest, NewProjectHasConsistentDataAndIndex) {
  ASSERT_EQ(CreateProjectData(DefaultContext(), project_), 0);
  ProjectData data = Load();
  ASSERT_EQ(data.objects.size(), 4u);
  EXPECT_EQ(data.objects[0].type, "PROJECT");
  EXPECT_EQ(RefNames(data, data.objects[0]), (std::multiset<std::string>{"0", "Drawings", "Plan"}));
  EXPECT_EQ(CheckProjectIndex(project_), 0);
  std::string before = Read(Objects());
  EXPECT_EQ(CreateProjectData(DefaultContext(), project_), -EEXIST);
  EXPECT_EQ(Read(Objects()), before);
  EXPECT_EQ(CreateProjectData(DefaultContext(), project_ + "/missing"), -ENOENT);
}

TEST_F(ProjectDataTest, DamagedObjectFilesAreRefused) {
  const std::string good = Line(kA, "PROJECT", "A", "Project", kB) + Line(kB, "LAYER", "A", "0", "");
  const std::string sealed = Sealed(good, 2);
  const std::string cases[] = {
      "", sealed.substr(0, sealed.size() - 1), sealed.substr(0, 60),
      Sealed(good, 3), "DOVRANE-PROJECTDATA 2" + sealed.substr(21),
      sealed.substr(0, sealed.size() - 9) + "00000000\n",  // wrong check value
      Sealed(good + Line(kA, "VIEW", "A", "Twin", ""), 3),  // repeated identifier
      Sealed(Line("not-a-uuid", "VIEW", "A", "x", ""), 1),
      Sealed(Line("00000000-0000-0000-0000-000000000000", "VIEW", "A", "x", ""), 1),
      Sealed(Line(kA, "view", "A", "x", ""), 1), Sealed(Line(kA, "VIEW", "X", "x", ""), 1),
      Sealed(Line(kA, "VIEW", "A", "", ""), 1), Sealed(Line(kA, "VIEW", "A", std::string(51, 'n'), ""), 1),
      Sealed(Line(kA, "VIEW", "A", "bell\a", ""), 1), Sealed(Line(kA, "VIEW", "A", "x", "zz"), 1),
      Sealed(Line(kA, "VIEW", "A", "x", std::string(kB) + ","), 1),
      Sealed(std::string(kA) + "\tVIEW\tA\tx\n", 1)};
  for (const std::string& text : cases) {
    ProjectData data;
    EXPECT_EQ(ParseProjectObjects(text, &data), -EBADMSG) << text;
  }
  ProjectData data;
  EXPECT_EQ(ParseProjectObjects(sealed, &data), 0);
  EXPECT_EQ(ParseProjectObjects(Sealed(Line(kA, "VIEW", "A", "Gr\xFC\xDF" "e", ""), 1), &data), 0);
}

TEST_F(ProjectDataTest, InvalidObjectsAreNotWritten) {
  ProjectData data;
  Uuid a;
  ASSERT_TRUE(ParseUuid(kA, &a));
  std::vector<ProjectObject> cases[] = {
      {{a, "VIEW", "x", false, {}}, {a, "VIEW", "y", false, {}}},  // repeated identifier
      {{Uuid{}, "VIEW", "x", false, {}}},
      {{a, "VIEW", "tab\there", false, {}}},
      {{a, "VIEW", "x", false, {Uuid{}}}},
      {{a, "", "x", false, {}}}};
  for (const auto& objects : cases) {
    data.objects = objects;
    EXPECT_EQ(WriteProjectData(project_, data), -EINVAL);
    EXPECT_FALSE(Exists(Objects()));
  }
}

TEST_F(ProjectDataTest, ReorganiseDropsDeletedObjectsAndSorts) {
  WriteMessyProject();
  EXPECT_EQ(CheckProjectIndex(project_), -ENOENT);
  ReorganiseStats stats;
  ASSERT_EQ(ReorganiseProjectData(DefaultContext(), project_, &stats), 0);
  EXPECT_EQ(stats.objects_dropped, 1u);
  EXPECT_EQ(stats.references_dropped, 4u);  // to the deleted, the missing and a repeat
  EXPECT_TRUE(stats.index_was_stale);
  ProjectData data = Load();
  ASSERT_EQ(data.objects.size(), 3u);
  EXPECT_EQ(data.objects[0].name, "0");  // LAYER < PROJECT < VIEW
  EXPECT_EQ(data.objects[1].name, "Project");
  EXPECT_EQ(data.objects[2].name, "Plan");
  EXPECT_EQ(RefNames(data, data.objects[1]), std::multiset<std::string>{"0"});
  EXPECT_TRUE(data.objects[0].refs.empty());
  EXPECT_EQ(CheckProjectIndex(project_), 0);
}

TEST_F(ProjectDataTest, RenewedIdentifiersKeepTheReferenceShape) {
  ASSERT_EQ(CreateProjectData(DefaultContext(), project_), 0);
  ProjectData before = Load();
  std::map<Uuid, Uuid> mapping;
  ASSERT_EQ(RenewProjectUuids(DefaultContext(), project_, &mapping), 0);
  ProjectData after = Load();
  ASSERT_EQ(after.objects.size(), before.objects.size());
  for (size_t i = 0; i < after.objects.size(); ++i) {
    EXPECT_EQ(after.objects[i].id, mapping.at(before.objects[i].id));
    EXPECT_EQ(before.Find(after.objects[i].id), nullptr);  // no old identifier survives
    EXPECT_EQ(RefNames(after, after.objects[i]), RefNames(before, before.objects[i]));
  }
  EXPECT_EQ(CheckProjectIndex(project_), 0);
}

TEST_F(ProjectDataTest, SlotOperationsWorkOnTheSlotFolder) {
  WriteMessyProject();
  ASSERT_EQ(kpvtad2(DefaultContext(), 18), 0);
  ProjectData reorganised = Load();
  ASSERT_EQ(ztbReplaceUUIDs(DefaultContext(), 18), 0);
  ProjectData renewed = Load();
  ASSERT_EQ(renewed.objects.size(), 3u);
  EXPECT_NE(renewed.objects[1].id, reorganised.objects[1].id);
  EXPECT_EQ(renewed.Find(renewed.objects[1].refs.at(0))->name, "0");
  lfinipC(DefaultContext(), 18, "");
  EXPECT_EQ(kpvtad2(DefaultContext(), 18), -EINVAL);
  EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(ProjectDataTest, DamagedDataIsReportedAndNothingWritten) {
  const std::string damaged = Sealed(Line(kA, "VIEW", "A", "x", ""), 1) + "tail\n";
  ASSERT_EQ(platform::WriteFileAtomic(Objects(), damaged), 0);
  EXPECT_EQ(kpvtad2(DefaultContext(), 18), -EBADMSG);
  EXPECT_EQ(ztbReplaceUUIDs(DefaultContext(), 18), -EBADMSG);
  EXPECT_EQ(Read(Objects()), damaged);
  EXPECT_FALSE(Exists(project_ + "/objects.idx"));
  ASSERT_EQ(messages_.texts.size(), 2u);
  EXPECT_NE(messages_.texts[0].find("damaged"), std::string::npos);
  std::filesystem::remove(Objects());
  EXPECT_EQ(kpvtad2(DefaultContext(), 18), -ENOENT);
}

TEST_F(ProjectDataTest, InterruptedRewriteLeavesWholeFiles) {
  WriteMessyProject();
  const std::string before = Read(Objects());
  platform::FaultInjectionEnv faults;
  platform::Env* previous = platform::SetCurrentEnv(&faults);
  faults.Arm(platform::FaultPoint::kRename, 1, EIO);  // the object file's rename
  EXPECT_EQ(ReorganiseProjectData(DefaultContext(), project_, nullptr), -EIO);
  EXPECT_EQ(Read(Objects()), before);
  faults.Arm(platform::FaultPoint::kRename, 2, EIO);  // the index's rename
  EXPECT_EQ(ReorganiseProjectData(DefaultContext(), project_, nullptr), -EIO);
  platform::SetCurrentEnv(previous);
  EXPECT_EQ(Load().objects.size(), 3u);                // new object file is whole
  EXPECT_NE(CheckProjectIndex(project_), 0);           // and the index is known stale
  ReorganiseStats stats;
  ASSERT_EQ(ReorganiseProjectData(DefaultContext(), project_, &stats), 0);
  EXPECT_TRUE(stats.index_was_stale);
  EXPECT_EQ(CheckProjectIndex(project_), 0);
}

}  // namespace
}  // namespace dovrane::extlib

// Symbolic links left in \Net by anyone who may write the share: the backup
// sets and the audit log are written, pruned and appended to without following
// them, nothing outside the installation changes, and each link is reported.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/sample_installation.h"
#include "support/temp_dir.h"

namespace dovrane::testing {
namespace {

namespace fs = std::filesystem;

// Every entry of dir and below, links not followed: type, size and
// modification time, so a removed, added, grown or touched file shows.
std::map<std::string, std::string> Listing(const std::string& dir) {
  std::map<std::string, std::string> out;
  auto add = [&out](const std::string& key, const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    out[key] = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
               "." + std::to_string(st.st_mtim.tv_nsec);
  };
  add(".", dir);
  for (const auto& e : fs::recursive_directory_iterator(dir)) add(fs::relative(e.path(), dir).string(), e.path());
  return out;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

bool IsSetName(const std::string& name) {
  if (name.size() < 16 || name[8] != 'T' || name[15] != 'Z') return false;
  for (size_t i = 0; i < 16; ++i)
    if (i != 8 && i != 15 && !std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

// The real set folders in \Net\backup (links and files are not sets).
std::set<std::string> SetFolders(const std::string& backup) {
  std::set<std::string> sets;
  for (const auto& e : fs::directory_iterator(backup))
    if (e.is_directory() && !e.is_symlink() && IsSetName(e.path().filename())) sets.insert(e.path().filename());
  return sets;
}

class SharedFolderLinksTest : public ::testing::Test {
 protected:
  SharedFolderLinksTest() : inst_({"--hosts", "3", "--projects", "12"}) {}

  std::string Net(const std::string& name) const { return inst_.net_dir() + "/" + name; }
  // A folder outside the installation with a few files of its own.
  void FillOutside() {
    outside_.Write("keep.txt", "not the installation's\n");
    outside_.Write("deep/more.txt", "nor this\n");
    outside_.Write("project.dat", "a file of the same name\n");
  }

  SampleInstallation inst_;
  TempDir outside_;
};

// Links (to a folder, to a file, dangling) and a plain file named like backup
// sets are never taken for sets: ten repairs and more leave what they point to
// as it was, the links stay, each run names them once, and only the newest
// real sets are kept; a pruned set's own links go, not what they point to.
TEST_F(SharedFolderLinksTest, PruningBackupSetsLeavesLinksAndWhatTheyPointToAlone) {
  FillOutside();
  const std::string backup = Net("backup");
  fs::create_directories(backup);
  const std::map<std::string, std::string> foreign = {
      {"20000101T000000Z", outside_.path()},
      {"20000102T000000Z", outside_ / "keep.txt"},
      {"20000103T000000Z", outside_ / "gone"},
  };
  for (const auto& [name, target] : foreign) ASSERT_EQ(::symlink(target.c_str(), (backup + "/" + name).c_str()), 0);
  WriteFile(backup + "/20000104T000000Z", "a file, not a set\n");
  // A real set, the oldest, with links inside: pruned, the links removed themselves.
  const std::string old_set = backup + "/20000105T000000Z";
  fs::create_directories(old_set);
  ASSERT_EQ(::symlink((outside_ / "project.dat").c_str(), (old_set + "/project.dat").c_str()), 0);
  ASSERT_EQ(::symlink(outside_.path().c_str(), (old_set + "/deep").c_str()), 0);
  const auto before = Listing(outside_.path());

  for (int run = 0; run < 12; ++run) {
    SCOPED_TRACE(run);
    const ProgramResult r = inst_.Run({"-restore"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (const char* name : {"20000101T000000Z", "20000102T000000Z", "20000103T000000Z", "20000104T000000Z"})
      EXPECT_EQ(Count(r.err, name), 1u) << name << " not reported once:\n" << r.err;
  }
  EXPECT_EQ(Listing(outside_.path()), before) << "a file outside the installation changed";
  for (const auto& [name, target] : foreign) {
    std::error_code ec;
    EXPECT_EQ(fs::read_symlink(backup + "/" + name, ec).string(), target) << name;
  }
  EXPECT_EQ(ReadFile(backup + "/20000104T000000Z"), "a file, not a set\n");
  EXPECT_FALSE(Exists(old_set)) << "the oldest set was kept";
  EXPECT_EQ(SetFolders(backup).size(), 10u);
}

// \Net\backup itself a link: no set is written through it. A repair that
// cannot back up what it rewrites stops before it writes, as for any failed
// backup, with the link named.
TEST_F(SharedFolderLinksTest, BackupFolderThatIsALinkStopsTheRepairUnwritten) {
  FillOutside();
  const std::string backup = Net("backup");
  fs::remove_all(backup);
  ASSERT_EQ(::symlink(outside_.path().c_str(), backup.c_str()), 0);
  const auto before = Listing(outside_.path());
  const std::string administration = ReadFile(Net("project.dat"));

  const ProgramResult r = inst_.Run({"-restore"});
  EXPECT_NE(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("symbolic link"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("could not be backed up"), std::string::npos) << r.err;
  EXPECT_EQ(Listing(outside_.path()), before) << "a set was written through the link";
  EXPECT_EQ(ReadFile(Net("project.dat")), administration);
  EXPECT_TRUE(fs::is_symlink(backup));
}

// A \Net folder an administrator moved to other storage and linked is part of
// the installation's shape: it is followed, the backup set and the audit line
// land in the moved folder, and nothing is reported.
TEST_F(SharedFolderLinksTest, MovedAndLinkedNetFolderIsFollowedOnPurpose) {
  const std::string moved = outside_ / "Net";
  fs::rename(inst_.net_dir(), moved);
  ASSERT_EQ(::symlink(moved.c_str(), inst_.net_dir().c_str()), 0);

  const ProgramResult r = inst_.Run({"-restore"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err.find("symbolic link"), std::string::npos) << r.err;
  EXPECT_EQ(SetFolders(moved + "/backup").size(), 1u);
  const ProgramResult made = inst_.Run({"Moved", "-create", "SRV1"});
  EXPECT_EQ(made.status, 0) << made.out << made.err;
  EXPECT_EQ(made.err.find("symbolic link"), std::string::npos) << made.err;
  EXPECT_NE(ReadFile(moved + "/dovrane.log").find("Moved"), std::string::npos);
  EXPECT_TRUE(fs::is_symlink(inst_.net_dir()));
}

// Sets dated in the future (a workstation with a wrong clock wrote them) do
// not push out the sets made now: the set a repair just made is kept, and the
// sets are ordered by when they were made, so today's stay while the future
// ones go first. The future ones are named as such.
TEST_F(SharedFolderLinksTest, SetsFromTheFutureNeverPushOutTheNewest) {
  const std::string backup = Net("backup");
  std::set<std::string> future;
  for (int day = 1; day <= 10; ++day) {
    const std::string name = "209901" + std::string(day < 10 ? "0" : "") + std::to_string(day) + "T120000Z";
    fs::create_directories(backup + "/" + name);
    fs::copy_file(Net("project.dat"), backup + "/" + name + "/project.dat");
    // As that workstation's clock would have dated them.
    const struct timespec times[2] = {{4102488000 + day * 86400, 0}, {4102488000 + day * 86400, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (backup + "/" + name + "/project.dat").c_str(), times, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, (backup + "/" + name).c_str(), times, 0), 0);
    future.insert(name);
  }

  std::set<std::string> today;
  for (int run = 0; run < 4; ++run) {
    SCOPED_TRACE(run);
    const std::string administration = ReadFile(Net("project.dat"));
    const std::set<std::string> earlier = SetFolders(backup);
    const ProgramResult r = inst_.Run({"-restore"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("future"), std::string::npos) << r.err;
    const std::set<std::string> sets = SetFolders(backup);
    EXPECT_EQ(sets.size(), 10u);
    std::vector<std::string> made;
    std::set_difference(sets.begin(), sets.end(), earlier.begin(), earlier.end(), std::back_inserter(made));
    ASSERT_EQ(made.size(), 1u) << "the new set was pruned";
    EXPECT_EQ(ReadFile(backup + "/" + made[0] + "/project.dat"), administration);
    today.insert(made[0]);
    for (const std::string& name : today) EXPECT_TRUE(sets.count(name)) << name << " of today was pruned";
  }
}

// \Net\dovrane.log a link to another file, or a dangling one: the command does
// its work with its own exit status, nothing is appended or created through
// the link, and standard error names the link once.
TEST_F(SharedFolderLinksTest, AuditLogIsNeverWrittenThroughALink) {
  FillOutside();
  const std::string log = Net("dovrane.log");
  int n = 0;
  for (const std::string& target : {outside_ / "keep.txt", outside_ / "new.log"}) {
    SCOPED_TRACE(target);
    fs::remove(log);
    ASSERT_EQ(::symlink(target.c_str(), log.c_str()), 0);
    const auto before = Listing(outside_.path());
    const std::string name = "Linked" + std::to_string(++n);

    const ProgramResult made = inst_.Run({name, "-create", "SRV1"});
    EXPECT_EQ(made.status, 0) << made.out << made.err;
    EXPECT_EQ(Count(made.err, "symbolic link"), 1u) << made.err;
    EXPECT_NE(made.err.find("dovrane.log"), std::string::npos) << made.err;
    EXPECT_EQ(inst_.Run({name, "-exist"}).status, 0);
    // A command that fails keeps its status: the same as without the link.
    const ProgramResult again = inst_.Run({name, "-create", "SRV1"});
    EXPECT_NE(again.status, 0);
    EXPECT_EQ(Count(again.err, "symbolic link"), 1u) << again.err;

    EXPECT_EQ(Listing(outside_.path()), before) << "a file outside the installation was written";
    EXPECT_EQ(fs::read_symlink(log).string(), target);
    fs::remove(log);
    EXPECT_EQ(inst_.Run({name, "-create", "SRV1"}).status, again.status);
    EXPECT_TRUE(fs::is_regular_file(log)) << "without the link the log is written";
  }
}

// A symbolic link among a host's project folders (to another host's project,
// or out of the installation) is no project: the scan of -update HOST and of
// a rebuild names it and leaves it alone, and nothing outside changes.
TEST_F(SharedFolderLinksTest, LinksAmongProjectFoldersAreNotRegistered) {
  FillOutside();
  const std::string prj = inst_.unc_root() + "/SRV2/cad/Prj/";
  std::string other;
  for (const auto& e : fs::directory_iterator(inst_.unc_root() + "/SRV1/cad/Prj"))
    if (e.is_directory()) other = e.path().string();
  ASSERT_FALSE(other.empty());
  fs::create_directory_symlink(other, prj + "n0000060.prj");
  fs::create_directory_symlink(outside_.path(), prj + "n0000061.prj");
  fs::create_directory_symlink(outside_.path(), prj + "Draussen.prj");
  const auto outside_before = Listing(outside_.path()), other_before = Listing(other);
  const size_t records = inst_.State().records.size();
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-update", "SRV2"}, {"-restore"}}) {
    if (args[0] == "-restore") fs::remove(Net("project.dat"));
    const ProgramResult r = inst_.Run(args);
    EXPECT_EQ(r.status, 0) << args[0] << r.err;
    const std::string said = r.out + r.err;
    for (const char* entry : {"n0000060.prj", "n0000061.prj", "Draussen.prj"})
      EXPECT_NE(said.find(std::string("The entry <") + entry + "> of host SRV2 is a symbolic link"), std::string::npos)
          << args[0] << " " << entry << said;
    EXPECT_EQ(inst_.State().records.size(), records) << args[0];
    EXPECT_EQ(Listing(outside_.path()), outside_before) << args[0];
    EXPECT_EQ(Listing(other), other_before) << args[0];
  }
}

}  // namespace
}  // namespace dovrane::testing

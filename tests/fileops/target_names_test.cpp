#include "fileops/target_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "fileops_test_support.h"
#include "extlib/installation/installation.h"
#include "platform/env.h"

namespace dovrane::fileops {
namespace {

using testing::WriteFile;

class ListingCounter : public platform::Env {
 public:
  int listings = 0, stats = 0;
  int ListDir(const std::string& path, std::vector<platform::DirEntry>* entries) override {
    ++listings;
    return Env::ListDir(path, entries);
  }
  int Stat(const std::string& path, platform::FileInfo* info, bool follow) override {
    ++stats;
    return Env::Stat(path, info, follow);
  }
};

class TargetNamesTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetCurrentEnv(&env_); }
  void TearDown() override { platform::SetCurrentEnv(nullptr); }
  void Touch(const std::string& name, int64_t dir_time) {
    WriteFile(dir_ / name, "x");
    timespec ts[2] = {{dir_time, 0}, {dir_time, 0}};  // a change another process made
    ::utimensat(AT_FDCWD, dir_.path().c_str(), ts, 0);
  }
  testing::TempDir dir_;
  ListingCounter env_;
  extlib::Installation installation_;  // its kept names start empty
};

TEST_F(TargetNamesTest, TakesTheSpellingOfANameThatDiffersInCase) {
  WriteFile(dir_ / "Existing.DAT", "x");
  WriteFile(dir_ / "M\xC3\x9C" "LLER.txt", "x");  // MÜLLER
  struct Case {
    std::string target, native;
  } cases[] = {
      {dir_ / "existing.dat", dir_ / "Existing.DAT"},
      {dir_ / "Existing.DAT", dir_ / "Existing.DAT"},
      {dir_ / "m\xC3\xBC" "ller.TXT", dir_ / "M\xC3\x9C" "LLER.txt"},  // müller
      {dir_ / "new.dat", dir_ / "new.dat"},
  };
  for (const Case& c : cases) EXPECT_EQ(NativeTargetPath(installation_, c.target), c.native) << c.target;
}

// What the look-up tells a copy of the path it returned: there (its status,
// a link not followed), not there, or not looked at (a name in another letter
// case, taken from the listing). A folder the caller has looked at is not
// looked at again.
TEST_F(TargetNamesTest, TellsWhatItSawOfTheTarget) {
  WriteFile(dir_ / "Existing.DAT", "xyz");
  ASSERT_EQ(::symlink("/nowhere", (dir_ / "link").c_str()), 0);
  using Known = TargetState::Known;
  struct Case {
    std::string target, native;
    Known known;
  } cases[] = {
      {dir_ / "Existing.DAT", dir_ / "Existing.DAT", Known::kPresent},
      {dir_ / "link", dir_ / "link", Known::kPresent},
      {dir_ / "existing.dat", dir_ / "Existing.DAT", Known::kUnknown},
      {dir_ / "new.dat", dir_ / "new.dat", Known::kAbsent},
  };
  KnownFolder folder;
  folder.native = dir_.path();
  ASSERT_EQ(platform::Env().Stat(folder.native, &folder.info), 0);
  for (const KnownFolder* seen : std::vector<const KnownFolder*>{nullptr, &folder}) {
    for (const Case& c : cases) {
      const int stats = env_.stats;
      TargetState state;
      state.known = Known::kPresent;  // whatever came before is replaced
      EXPECT_EQ(NativeTargetPath(installation_, c.target, seen, &state), c.native) << c.target;
      EXPECT_EQ(state.known, c.known) << c.target;
      // The target, and the folder unless it was given.
      EXPECT_EQ(env_.stats - stats, seen ? 1 : 3) << c.target;
    }
  }
  TargetState state;
  (void)NativeTargetPath(installation_, dir_ / "Existing.DAT", &folder, &state);
  EXPECT_EQ(state.info.size, 3u);
  EXPECT_EQ(state.info.type, platform::EntryType::kFile);
  (void)NativeTargetPath(installation_, dir_ / "link", &folder, &state);
  EXPECT_EQ(state.info.type, platform::EntryType::kLink);
  // A folder that is no folder: the path is mapped as it is, nothing known.
  KnownFolder file{dir_ / "Existing.DAT", {}};
  ASSERT_EQ(platform::Env().Stat(file.native, &file.info), 0);
  EXPECT_EQ(NativeTargetPath(installation_, dir_ / "Existing.DAT/x", &file, &state), dir_ / "Existing.DAT/x");
  EXPECT_EQ(state.known, Known::kUnknown);
}

TEST_F(TargetNamesTest, ListsTheFolderAgainOnlyAfterOthersChangedIt) {
  EXPECT_EQ(NativeTargetPath(installation_, dir_ / "a.dat"), dir_ / "a.dat");
  EXPECT_EQ(env_.listings, 1);
  WriteFile(dir_ / "a.dat", "x");
  NoteTargetCreated(installation_, dir_ / "a.dat");  // our own creation keeps the names
  EXPECT_EQ(NativeTargetPath(installation_, dir_ / "A.DAT"), dir_ / "a.dat");  // exact name missing, found in the kept names
  EXPECT_EQ(NativeTargetPath(installation_, dir_ / "b.dat"), dir_ / "b.dat");
  EXPECT_EQ(env_.listings, 1);
  Touch("OTHER.dat", 1'000'000'000);
  EXPECT_EQ(NativeTargetPath(installation_, dir_ / "other.DAT"), dir_ / "OTHER.dat");
  EXPECT_EQ(env_.listings, 2);
}

}  // namespace
}  // namespace dovrane::fileops

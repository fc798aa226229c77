#include "fileops/target_names.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "fileops_test_support.h"
#include "extlib/installation/installation.h"
#include "platform/env.h"

namespace dovrane::fileops {
namespace {

using testing::WriteFile;

class ListingCounter : public platform::Env {
 public:
  int listings = 0;
  int ListDir(const std::string& path, std::vector<platform::DirEntry>* entries) override {
    ++listings;
    return Env::ListDir(path, entries);
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

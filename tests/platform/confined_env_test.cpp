// The preview's Env writes only inside its copy, whichever way a path leads out.
#include "platform/confined_env.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace dovrane::platform {
namespace {

namespace fs = std::filesystem;

TEST(ConfinedEnvTest, NothingOutsideTheRootIsWrittenWhateverTheLinks) {
  testing::TempDir dir;
  const std::string root = dir.path() + "/copy", out = dir.path() + "/real";
  fs::create_directories(root + "/Net");
  fs::create_directories(out);
  testing::WriteFile(out + "/project.dat", "real");
  fs::create_symlink(out + "/project.dat", root + "/Net/linked.dat");
  fs::create_symlink(out + "/new.dat", root + "/Net/dangling.dat");
  fs::create_directory_symlink(out, root + "/Net/backup");
  fs::create_symlink("../../real/project.dat", root + "/Net/relative.dat");
  ConfinedEnv env(CurrentEnv(), root);

  EXPECT_TRUE(env.Inside(root + "/Net/project.dat"));
  EXPECT_TRUE(env.Inside(root + "/Net/a/b/c"));  // a chain about to be made
  EXPECT_FALSE(env.Inside(root + "/Net/linked.dat"));
  EXPECT_FALSE(env.Inside(root + "/Net/dangling.dat"));
  EXPECT_FALSE(env.Inside(root + "/Net/relative.dat"));
  EXPECT_FALSE(env.Inside(root + "/Net/backup/set/x"));
  EXPECT_FALSE(env.Inside(root + "/Net/../../real/x"));
  EXPECT_FALSE(env.Inside(dir.path() + "/copy-not/x"));  // a name that only begins like the root
  // The link itself is the copy's: it may be renamed or removed.
  EXPECT_TRUE(env.Inside(root + "/Net/linked.dat", false));

  EXPECT_EQ(env.Open(root + "/Net/linked.dat", O_WRONLY | O_TRUNC), -EROFS);
  EXPECT_EQ(env.Open(root + "/Net/dangling.dat", O_WRONLY | O_CREAT, 0644), -EROFS);
  EXPECT_EQ(env.MkDir(root + "/Net/backup/set"), -EROFS);
  EXPECT_EQ(env.Rename(root + "/Net/project.x", root + "/Net/backup/x"), -EROFS);
  EXPECT_EQ(env.Chmod(root + "/Net/linked.dat", 0600), -EROFS);
  const int fd = env.Open(root + "/Net/linked.dat", O_RDONLY);  // reading is free
  EXPECT_GE(fd, 0);
  env.Close(fd);
  const int made = env.Open(root + "/Net/project.dat", O_WRONLY | O_CREAT, 0644);
  EXPECT_GE(made, 0);
  env.Close(made);
  EXPECT_EQ(env.Unlink(root + "/Net/linked.dat"), 0);
  EXPECT_EQ(testing::ReadFile(out + "/project.dat"), "real");
  EXPECT_FALSE(fs::exists(out + "/new.dat"));
}

}  // namespace
}  // namespace dovrane::platform

// Whether a copy may leave a target as it is: compared at the resolution the
// target's file system keeps times with.
#include <gtest/gtest.h>

#include "fileops/copy_engine.h"
#include "platform/env.h"

namespace dovrane::fileops {
namespace {

TEST(TargetIsUpToDateTest, ComparesAtTheTargetsTimeResolution) {
  auto info = [](int64_t csec, int64_t msec, int64_t mnsec, uint64_t size = 10) {
    platform::FileInfo i;
    i.size = size;
    i.created = {csec, 0};
    i.modified = {msec, mnsec};
    return i;
  };
  struct Case {
    platform::FileInfo src, dst;
    int64_t resolution;
    bool up_to_date;
  } cases[] = {
      {info(100, 200, 5), info(300, 200, 5), 1, true},              // same write time
      {info(100, 200, 6), info(300, 200, 5), 1, false},             // source written later
      {info(400, 200, 5), info(300, 200, 5), 1, false},             // source created later
      {info(100, 201, 900), info(300, 200, 0), 2'000'000'000, true},  // FAT keeps even seconds
      {info(100, 202, 1), info(300, 200, 0), 2'000'000'000, false},
      {info(100, 200, 999), info(300, 200, 0), 1, true},            // whole-second target
      {info(100, 200, 123456789), info(300, 200, 123456700), 100, true},  // NTFS: 100 ns
      {info(100, 200, 5), info(300, 200, 5, 11), 1, false},         // size differs: interrupted copy
  };
  for (const Case& c : cases) EXPECT_EQ(TargetIsUpToDate(c.src, c.dst, c.resolution), c.up_to_date);
}

}  // namespace
}  // namespace dovrane::fileops

#include "extlib/installation/net_id.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>

#include "extlib/installation/operation_context.h"
#include "extlib/net_folder_fixture.h"
#include "extlib/projects/checksum.h"
#include "platform/fault_injection_env.h"

namespace dovrane::extlib {
namespace {

class NetIdTest : public NetFolderTest {
 protected:
  std::string IdFile() { return net_ + "/net.id"; }
};

TEST_F(NetIdTest, SavedIdentifiersReadBack) {
  EXPECT_EQ(get_PRJVekNetID(DefaultContext()), 0u);  // no file yet
  for (uint32_t id : {1u, 2u, 0x1A2B3C4Du, 0xFFFFFFFFu}) {
    ASSERT_EQ(NetID_Save(DefaultContext(), id), 0) << id;
    EXPECT_EQ(get_PRJVekNetID(DefaultContext()), id);
    EXPECT_EQ(Read(IdFile()), FormatNetIdFile(id));
  }
  EXPECT_EQ(Read(IdFile()), "DOVRANE-NETID 1\nid FFFFFFFF\ncheck " + Crc32Hex("FFFFFFFF") + "\n");
}

TEST_F(NetIdTest, DamagedFileReadsAsZeroAndStaysUntouched) {
  const std::string good = FormatNetIdFile(0x1234ABCD);
  const std::string cases[] = {
      "", "garbage\n", good.substr(0, good.size() - 1), good.substr(0, 20),
      "DOVRANE-NETID 1\nid 1234ABCD\ncheck 00000000\n",
      "DOVRANE-NETID 1\nid 1234abcd\ncheck " + Crc32Hex("1234abcd") + "\n",
      "DOVRANE-NETID 1\nid 00000000\ncheck " + Crc32Hex("00000000") + "\n",
      "DOVRANE-NETID 2\nid 1234ABCD\ncheck " + Crc32Hex("1234ABCD") + "\n",
      good + "extra\n"};
  for (const std::string& text : cases) {
    ASSERT_EQ(platform::WriteFileAtomic(IdFile(), text), 0);
    uint32_t id = 7;
    EXPECT_EQ(NetID_Load(DefaultContext(), &id), -EBADMSG) << text;
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(get_PRJVekNetID(DefaultContext()), 0u) << text;
    EXPECT_EQ(Read(IdFile()), text);  // a read never repairs or replaces
  }
}

// The identifier is kept between calls only while the file is the one read:
// a file rewritten in place at a later time, or another file put in its place
// with the same size and time, is read again.
TEST_F(NetIdTest, AChangedOrReplacedFileIsReadAgain) {
  ASSERT_EQ(NetID_Save(DefaultContext(), 0x11111111), 0);
  ASSERT_EQ(get_PRJVekNetID(DefaultContext()), 0x11111111u);
  struct stat before{};
  ASSERT_EQ(::stat(IdFile().c_str(), &before), 0);
  {
    std::ofstream in_place(IdFile(), std::ios::binary | std::ios::trunc);
    in_place << FormatNetIdFile(0x22222222);
  }
  const timespec later[2] = {before.st_atim, {before.st_mtim.tv_sec + 2, before.st_mtim.tv_nsec}};
  ASSERT_EQ(::utimensat(AT_FDCWD, IdFile().c_str(), later, 0), 0);
  EXPECT_EQ(get_PRJVekNetID(DefaultContext()), 0x22222222u);
  ASSERT_EQ(::stat(IdFile().c_str(), &before), 0);
  const std::string other = net_ + "/net.id.other";
  {
    std::ofstream replacement(other, std::ios::binary);
    replacement << FormatNetIdFile(0x33333333);
  }
  const timespec same[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), same, 0), 0);
  ASSERT_EQ(::rename(other.c_str(), IdFile().c_str()), 0);
  EXPECT_EQ(get_PRJVekNetID(DefaultContext()), 0x33333333u);
  ASSERT_EQ(::unlink(IdFile().c_str()), 0);
  EXPECT_EQ(get_PRJVekNetID(DefaultContext()), 0u);
}

TEST_F(NetIdTest, WindowsLineEndsAreAccepted) {
  ASSERT_EQ(platform::WriteFileAtomic(
                IdFile(), "DOVRANE-NETID 1\r\nid 0000BEEF\r\ncheck " + Crc32Hex("0000BEEF") + "\r\n"),
            0);
  EXPECT_EQ(get_PRJVekNetID(DefaultContext()), 0xBEEFu);
}

TEST_F(NetIdTest, SavingOverDamagedFileKeepsItsCopy) {
  ASSERT_EQ(platform::WriteFileAtomic(IdFile(), "half a fi"), 0);
  ASSERT_EQ(NetID_Save(DefaultContext(), 0xCAFE), 0);
  EXPECT_EQ(get_PRJVekNetID(DefaultContext()), 0xCAFEu);
  EXPECT_EQ(Read(net_ + "/net.id.damaged"), "half a fi");
}

TEST_F(NetIdTest, RefusesWhatCannotBeStored) {
  EXPECT_EQ(NetID_Save(DefaultContext(), 0), -EINVAL);
  EXPECT_FALSE(Exists(IdFile()));
  lfinipC(DefaultContext(), kSlotNet, "");
  EXPECT_EQ(NetID_Save(DefaultContext(), 5), -EINVAL);
  uint32_t id = 0;
  EXPECT_EQ(NetID_Load(DefaultContext(), &id), -ENOENT);
}

TEST_F(NetIdTest, FailedRewriteLeavesOldIdentifier) {
  ASSERT_EQ(NetID_Save(DefaultContext(), 0x1111), 0);
  platform::FaultInjectionEnv faults;
  platform::Env* previous = platform::SetCurrentEnv(&faults);
  for (platform::FaultPoint point :
       {platform::FaultPoint::kWrite, platform::FaultPoint::kSync, platform::FaultPoint::kRename}) {
    faults.Arm(point, 1, ENOSPC);
    EXPECT_EQ(NetID_Save(DefaultContext(), 0x2222), -ENOSPC);
    EXPECT_EQ(get_PRJVekNetID(DefaultContext()), 0x1111u);
  }
  platform::SetCurrentEnv(previous);
}

TEST_F(NetIdTest, MadeIdentifiersAreNeverReserved) {
  std::set<uint32_t> seen;
  for (int i = 0; i < 2000; ++i) {
    uint32_t id = NetID_Make();
    EXPECT_GT(id, 1u);
    seen.insert(id);
  }
  EXPECT_GT(seen.size(), 1990u);  // random, not a counter stuck on one value
}

}  // namespace
}  // namespace dovrane::extlib

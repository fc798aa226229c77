#include "admin/administration_header.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "extlib/installation/operation_context.h"
#include "extlib/records/record_line.h"
#include "platform/env.h"
#include "platform/manual_clock_env.h"
#include "support/run_program.h"
#include "support/small_installation.h"

namespace dovrane::admin {
namespace {

using extlib::PRJ;
using testing::SmallInstallation;

class AdministrationHeaderTest : public ::testing::Test {
 protected:
  int Open(const std::string& contents, AdministrationHeader* header) {
    inst_.dir.Write("SRV1/cad/Net/project.dat", contents);
    int fd = OpenAdministrationHeader(extlib::DefaultContext(), inst_.Native("SRV1/cad/Net/project.dat"),
                                      ShareMode::kDenyNone, header);
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  void TearDown() override {
    for (int fd : fds_) platform::CurrentEnv()->Close(fd);
  }
  static std::string Line(int length, char fill = 'x') { return std::string(static_cast<size_t>(length), fill); }
  static std::string V3(const PRJ& r, int k) {
    std::string line;
    extlib::FormatRecordV3(r, k, &line);
    return line;
  }
  SmallInstallation inst_;
  std::vector<int> fds_;
};

TEST_F(AdministrationHeaderTest, HeadersGoodAndBad) {
  struct Case { std::string file; bool ok; int version, line_end, user_words; uint32_t highest; } cases[] = {
      {" 3n0000042\r\n" + Line(114) + "\r\n", true, 3, 2, 1, 42},
      {" 3n0000042\n" + Line(84) + "\n", true, 3, 1, 0, 42},
      {" 3n9999999\n" + Line(130) + "\n", true, 3, 1, 3, 9999999},
      {" 3n0000042\n" + Line(85) + "\n", false, 3, 1, 0, 42},
      {" 3n0000042\n" + Line(106) + "\n", false, 3, 1, 0, 42},
      {" 3n0000042\n" + Line(107) + "\n", false, 3, 1, 0, 42},  // no whole container
      {" 3n0000042\r\n" + Line(113) + "\r\n", false, 3, 2, 0, 42},
      {" 3n0000042\n" + Line(115) + "\n", false, 3, 1, 0, 42},  // a part container
      {" 3n0000042\n" + Line(123) + "\n", false, 3, 1, 0, 42},
      // Line ends of both kinds: the first line measured with the other one's end.
      {" 3n0000042\n" + Line(114) + "\r\n" + Line(114) + "\r\n", false, 3, 1, 0, 42},
      {" 3n0000042\r\n" + Line(114) + "\n" + Line(114) + "\r\n", false, 3, 2, 0, 42},
      {" 3n0000042\r\n" + Line(84) + "\n" + Line(84) + "\r\n", false, 3, 2, 0, 42},
      {" 3n0000042\n" + Line(83) + "\n", false, 3, 1, 0, 42},
      {" 2n0000007\r\n" + Line(135) + "\r\n", true, 2, 2, 4, 7},
      {" 1n0000007\n" + Line(135) + "\n", true, 1, 1, 4, 7},
      {" 1n0000007\n", false, 0, 1, 4, 7},  // fewer than 12 bytes
      {" 4n0000001\r\n" + Line(114) + "\r\n", false, 4, 2, 0, 0},
      {" 0n0000001\r\n", false, 0, 0, 0, 0},
      {" 3x0000001\r\n" + Line(114) + "\r\n", false, 3, 2, 0, 0},
      {" 3n00000", false, 0, 0, 0, 0},
      {" 3n10000000\r\n" + Line(114) + "\r\n", false, 3, 1, 0, 0},  // a ninth digit: no line end at 10
      // Without a record it fits the installation's one container: nothing to convert.
      {" 3n0000000\r\n", true, 3, 2, 1, 0},
      {" 3n0000042\r\n" + Line(40), true, 3, 2, 1, 42},  // a first line a crash cut short: no record yet
  };
  for (const Case& c : cases) {
    AdministrationHeader h;
    int fd = Open(c.file, &h);
    EXPECT_EQ(fd >= 0, c.ok) << c.file.substr(0, 12);
    EXPECT_EQ(h.version, c.version) << c.file.substr(0, 12);
    if (!c.ok) continue;
    EXPECT_EQ(h.line_end, c.line_end);
    EXPECT_EQ(h.user_words, c.user_words);
    EXPECT_EQ(h.highest, c.highest);
  }
}

TEST_F(AdministrationHeaderTest, V3LinesGoodAndBad) {
  PRJ top = SmallInstallation::Record("Top", 9999999, "SRV2", 2);
  std::string good = V3(top, 1);
  std::string too_big = good;
  too_big.replace(51, 8, "n99999x9");  // not seven digits
  std::string bad_members = good;
  bad_members[106] = 'G';
  std::string ten_million = good;
  ten_million.replace(51, 8, "n10000000");  // one character too many
  std::string file = " 3n0000042\r\n" + good + "\r\n" + too_big + "\r\n" + bad_members + "\r\n" + good.substr(0, 100) +
                     "\r\n" + ten_million + "\r\n" + good + "\r\n" + good.substr(0, 50);
  AdministrationHeader h;
  int fd = Open(file, &h);
  ASSERT_GE(fd, 0);
  RecordStream in(*platform::CurrentEnv(), fd);
  PRJ r;
  const int expected[] = {0, -1, -1, -10, -10, 0, -1, 1};
  for (int want : expected) {
    EXPECT_EQ(ReadRecordV3(in, h, &r), want) << "slot " << in.slot();
    if (want == 0) {
      EXPECT_EQ(r.number, 9999999u);
      EXPECT_EQ(std::string(r.host), "SRV2");
      EXPECT_TRUE(extlib::MemberBit(r, 2));
    }
  }
}

TEST_F(AdministrationHeaderTest, LastRecordWithoutItsLineEndIsARecordAndEndlessLinesStayOutOfMemory) {
  const std::string good = V3(SmallInstallation::Record("Last", 7), 1);
  for (const std::string& tail : {std::string(), std::string("\r")}) {
    AdministrationHeader h;
    int fd = Open(" 3n0000042\r\n" + good + "\r\n" + good + tail, &h);
    ASSERT_GE(fd, 0);
    RecordStream in(*platform::CurrentEnv(), fd);
    PRJ r;
    EXPECT_EQ(ReadRecordV3(in, h, &r), 0);
    EXPECT_EQ(ReadRecordV3(in, h, &r), 0) << "tail " << tail.size();
    EXPECT_EQ(r.number, 7u);
    EXPECT_EQ(ReadRecordV3(in, h, &r), 1);
  }
  // A damaged file of 1 GB without a line end after its first record.
  AdministrationHeader h;
  int fd = Open(" 3n0000042\r\n" + good + "\r\n", &h);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::truncate(inst_.Native("SRV1/cad/Net/project.dat").c_str(), int64_t{1} << 30), 0);
  EXPECT_EQ(testing::RunBounded(
                [&] {
                  RecordStream in(*platform::CurrentEnv(), fd);
                  PRJ r;
                  return ReadRecordV3(in, h, &r) == 0 && ReadRecordV3(in, h, &r) == -1 && ReadRecordV3(in, h, &r) == 1
                             ? 0
                             : 1;
                },
                30000, 256 << 20),
            0);
}

TEST_F(AdministrationHeaderTest, V12LinesTakeTheVersionFromTheFolder) {
  PRJ a = SmallInstallation::Record("Alt", 12, "SRV2", 3), b = SmallInstallation::Record("Neu", 13, "SRV1", 1);
  inst_.MakeProjectFolder("SRV2", 12, 16);
  inst_.MakeProjectFolder("SRV1", 13, 19);
  std::string la, lb;
  ASSERT_TRUE(extlib::FormatRecordV12(a, &la));
  ASSERT_TRUE(extlib::FormatRecordV12(b, &lb));
  std::string broken = lb;
  broken[70] = 'z';
  AdministrationHeader h;
  int fd = Open(" 2n0000013\r\n" + la + "\r\n" + broken + "\r\n" + lb + "\r\n", &h);
  ASSERT_GE(fd, 0);
  RecordStream in(*platform::CurrentEnv(), fd);
  PRJ r;
  ASSERT_EQ(ReadRecordV12(extlib::DefaultContext(), in, h, &r), 0);
  EXPECT_EQ(r.version, 16);
  EXPECT_TRUE(extlib::MemberBit(r, 3));
  EXPECT_EQ(ReadRecordV12(extlib::DefaultContext(), in, h, &r), -1);
  ASSERT_EQ(ReadRecordV12(extlib::DefaultContext(), in, h, &r), 0);
  EXPECT_EQ(r.version, 19);
  EXPECT_EQ(ReadRecordV12(extlib::DefaultContext(), in, h, &r), 1);
}

}  // namespace
}  // namespace dovrane::admin

namespace dovrane::admin {
namespace {

TEST(AdministrationHeaderShareTest, DenyReadWriteKeepsOtherOpensOut) {
  testing::SmallInstallation inst;
  inst.WriteAdministration({SmallInstallation::Record("Office", 1)}, 1);
  const std::string path = inst.Native("SRV1/cad/Net/project.dat");
  AdministrationHeader header;
  int fd = OpenAdministrationHeader(extlib::DefaultContext(), path, ShareMode::kDenyReadWrite, &header);
  ASSERT_GE(fd, 0);
  AdministrationHeader other;
  platform::ManualClockEnv clock;
  platform::SetCurrentEnv(&clock);
  EXPECT_EQ(OpenAdministrationHeader(extlib::DefaultContext(), path, ShareMode::kDenyWrite, &other), -2);  // in use
  platform::SetCurrentEnv(nullptr);
  // Refused only after the holder had its time to let the file go.
  EXPECT_GE(clock.ElapsedMs(), kShareLockTimeoutMs);
  EXPECT_LT(clock.ElapsedMs(), 2 * kShareLockTimeoutMs);
  platform::CurrentEnv()->Close(fd);
  fd = OpenAdministrationHeader(extlib::DefaultContext(), path, ShareMode::kDenyWrite, &other);
  EXPECT_GE(fd, 0);
  platform::CurrentEnv()->Close(fd);
}

}  // namespace
}  // namespace dovrane::admin

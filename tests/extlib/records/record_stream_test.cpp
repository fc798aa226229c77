#include "extlib/records/record_stream.h"

#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "extlib/projects/project_code.h"
#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"
#include "platform/env.h"
#include "support/temp_dir.h"

namespace dovrane::extlib {
namespace {

namespace L = layout;

constexpr int kContainers = 1;

// An administration of n records named "P<slot>"; every seventh written with
// blanks before its version's digit (valid, but not in the written form).
std::string Administration(int n) {
  std::string text = FormatHeader(L::kCurrentVersion, static_cast<uint32_t>(n), 2);
  for (int slot = 1; slot <= n; ++slot) {
    PRJ r;
    const std::string name = "P" + std::to_string(slot);
    std::memcpy(r.name, name.data(), name.size());
    std::memcpy(r.host, "SRV1", 4);
    r.number = static_cast<uint32_t>(slot);
    r.version = 7;
    std::string line;
    EXPECT_TRUE(FormatRecordV3(r, kContainers, &line));
    if (slot % 7 == 0) line[L::kV3Version] = ' ';
    text += line + "\r\n";
  }
  return text;
}

struct Seen {
  std::mutex mutex;
  std::map<long, std::string> names;     // slot: name
  std::vector<std::vector<long>> order;  // per sink: the slots in the order given
  std::vector<long> pieces;              // first slots
  int written = 0, parsed = 0;
};

std::vector<RecordSink> Sinks(Seen* seen, int count) {
  seen->order.resize(static_cast<size_t>(count));
  std::vector<RecordSink> sinks;
  for (int i = 0; i < count; ++i) {
    RecordSink sink;
    auto take = [seen, i](long slot, std::string name, bool written) {
      std::lock_guard<std::mutex> guard(seen->mutex);
      EXPECT_TRUE(seen->names.emplace(slot, std::move(name)).second) << "slot " << slot << " twice";
      seen->order[static_cast<size_t>(i)].push_back(slot);
      ++(written ? seen->written : seen->parsed);
    };
    sink.each = [take](const PRJ& r, long slot) { take(slot, TrimmedName(r.name), false); };
    sink.written = [take](const WrittenFields* f, size_t count, long first) {
      for (size_t k = 0; k < count; ++k)
        take(first + static_cast<long>(k), std::string(f[k].name, f[k].name_length), true);
    };
    sink.piece = [seen](long first) {
      std::lock_guard<std::mutex> guard(seen->mutex);
      seen->pieces.push_back(first);
    };
    sinks.push_back(std::move(sink));
  }
  return sinks;
}

int ReadInPieces(const std::string& path, Seen* seen, int threads, long* bad) {
  platform::Env* env = platform::CurrentEnv();
  const int fd = env->Open(path, O_RDONLY);
  EXPECT_GE(fd, 0);
  uint32_t highest = 0;
  const int rc =
      ReadRecordStreamInPieces(*platform::CurrentEnv(), fd, kContainers, true, &highest, bad, Sinks(seen, threads));
  env->Close(fd);
  return rc;
}

// Read by two threads in pieces, every record comes once, in slot order
// within each thread, both ways (written form and parsed) used; the pieces
// cover the file without gaps. A last record without its line end counts.
TEST(RecordStreamTest, PiecesHandEveryRecordOnceInOrder) {
  testing::TempDir dir;
  constexpr int kRecords = 5000;
  std::string text = Administration(kRecords);
  text.resize(text.size() - 2);  // the last line end lost
  const std::string path = dir.Write("project.dat", text);
  Seen seen;
  long bad = -1;
  ASSERT_EQ(ReadInPieces(path, &seen, 2, &bad), kPrjOk);
  EXPECT_EQ(bad, 0);
  ASSERT_EQ(seen.names.size(), static_cast<size_t>(kRecords));
  for (const auto& [slot, name] : seen.names) EXPECT_EQ(name, "P" + std::to_string(slot));
  for (const std::vector<long>& order : seen.order) EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_GT(seen.pieces.size(), 2u);
  std::sort(seen.pieces.begin(), seen.pieces.end());
  EXPECT_EQ(seen.pieces.front(), 1);
  // The unterminated last record is parsed too.
  static_assert(kRecords % 7 != 0);
  EXPECT_EQ(seen.parsed, kRecords / 7 + 1);
  EXPECT_EQ(seen.written, kRecords - kRecords / 7 - 1);
}

// A damaged record in any piece fails the read, and the first one in the
// file is reported whichever thread met it first.
TEST(RecordStreamTest, TheFirstDamagedRecordIsReported) {
  testing::TempDir dir;
  std::string text = Administration(5000);
  const size_t header = L::kHeaderText + 2, line = L::V3LineLength(kContainers) + 2;
  for (long slot : {4321L, 1234L}) text[header + (slot - 1) * line + L::kV3Number + 3] = 'x';
  const std::string path = dir.Write("project.dat", text);
  for (int threads : {1, 2}) {
    Seen seen;
    long bad = 0;
    EXPECT_EQ(ReadInPieces(path, &seen, threads, &bad), kPrjFailed);
    EXPECT_EQ(bad, 1234) << threads;
  }
}

// Another program cuts the file short in the middle of the read: the read
// fails (a large file is read where it lies, and its missing pages must not
// end the process either).
TEST(RecordStreamTest, AFileCutShortWhileReadFails) {
  testing::TempDir dir;
  const std::string text = Administration(5000);
  const size_t line = L::V3LineLength(kContainers) + 2;
  for (int threads : {1, 2}) {
    const std::string path = dir.Write("project.dat", text);
    Seen seen;
    std::vector<RecordSink> sinks = Sinks(&seen, threads);
    bool cut = false;
    std::mutex mutex;
    for (RecordSink& sink : sinks) {
      sink.piece = [&](long first) {
        std::lock_guard<std::mutex> guard(mutex);
        if (first > 1 && !cut) cut = ::truncate(path.c_str(), static_cast<off_t>(L::kHeaderText + 2 + 10 * line)) == 0;
      };
    }
    platform::Env* env = platform::CurrentEnv();
    const int fd = env->Open(path, O_RDONLY);
    ASSERT_GE(fd, 0);
    uint32_t highest = 0;
    long bad = 0;
    EXPECT_EQ(ReadRecordStreamInPieces(*platform::CurrentEnv(), fd, kContainers, true, &highest, &bad, sinks),
              kPrjFailed)
        << threads;
    env->Close(fd);
    EXPECT_TRUE(cut);
    EXPECT_LT(seen.names.size(), 5000u);
  }
}

}  // namespace
}  // namespace dovrane::extlib

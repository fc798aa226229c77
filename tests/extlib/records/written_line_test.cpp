#include "extlib/records/written_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"

namespace dovrane::extlib {
namespace {

namespace L = layout;

constexpr WrittenLineCheck::Blocks kEveryWay[] = {WrittenLineCheck::Blocks::kWidest, WrittenLineCheck::Blocks::k16,
                                                  WrittenLineCheck::Blocks::k1};

// A record as the program could write it, with random fields: names with
// characters beyond ASCII and blanks inside, any key and begin.
PRJ RandomRecord(std::mt19937* rng) {
  auto pick = [rng](uint32_t n) { return static_cast<uint32_t>((*rng)() % n); };
  PRJ r;
  std::string name;
  const uint32_t length = 1 + pick(kNameLength);
  static const char kChars[] = "Ab z#-.9\xE4\xFC\xC9\x80\xFF";
  for (uint32_t i = 0; i < length; ++i) name += kChars[pick(sizeof kChars - 1)];
  std::memcpy(r.name, name.data(), name.size());
  const std::string host = pick(4) == 0 ? "SRV\xC4" : "SRV" + std::to_string(pick(100));
  std::memcpy(r.host, host.data(), host.size());
  r.number = pick(kMaxProjectNumber + 1);
  r.version = static_cast<unsigned char>(pick(100));
  r.status = static_cast<unsigned char>(kStatusBlank + pick(64));
  r.dbkey = pick(4) == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>((*rng)());
  r.begin = static_cast<int32_t>((*rng)());
  r.owner = pick(1000);
  for (unsigned char& m : r.members) m = static_cast<unsigned char>(pick(256));
  return r;
}

// What the check gives must be what the parser gives.
void ExpectSameFields(const WrittenFields& f, const PRJ& parsed) {
  const size_t name = TrimmedLength(parsed.name, strnlen(parsed.name, kNameLength));
  EXPECT_EQ(std::string(f.name, f.name_length), std::string(parsed.name, name));
  char number[kNumberTextLength];
  ASSERT_TRUE(PutNumberText(parsed.number, number));
  EXPECT_EQ(std::string(f.number, kNumberTextLength), std::string(number, sizeof number));
  EXPECT_EQ(std::string(f.host, f.host_length), std::string(parsed.host));
  auto ascii = [](const char* text, size_t size) {
    return std::all_of(text, text + size, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  };
  EXPECT_EQ(f.name_ascii, ascii(parsed.name, name));
  EXPECT_EQ(f.host_ascii, ascii(parsed.host, strlen(parsed.host)));
  EXPECT_EQ(f.status, parsed.status);
  EXPECT_EQ(std::stoul(std::string(f.version, 2)), parsed.version);
  EXPECT_EQ(std::stoul(std::string(f.key, 10)), parsed.dbkey);
}

// Lines as written, then each position changed to bytes that matter to the
// layout: whatever the check takes, the parser takes too, with the same
// fields. The line sits in a buffer of its exact size, so a read past its
// end is an error under AddressSanitizer.
TEST(WrittenLineTest, TakesOnlyLinesTheParserTakesWithTheSameFields) {
  std::mt19937 rng(7);
  static const unsigned char kBytes[] = {0,   ' ', '\t', '\r', '@', ';', ',', 'n', 'N', '0',        '9',
                                         '/', ':', 'A',  'F',  'G', 'a', 'f', 'g', '`', 'F' | 0x80, 0xFF};
  for (auto blocks : kEveryWay) {
    for (int words : {1, 2, 5, 31}) {
      for (int now : {words, 1}) {
        const WrittenLineCheck check(words, now, true, blocks);
        ASSERT_TRUE(check.usable());
        ASSERT_EQ(check.length(), static_cast<size_t>(L::V3LineLength(words)));
        int taken = 0, refused_valid = 0;
        for (int sample = 0; sample < 3; ++sample) {
          std::string text;
          ASSERT_TRUE(FormatRecordV3(RandomRecord(&rng), words, &text));
          std::vector<char> line(text.begin(), text.end());
          PRJ parsed;
          ASSERT_EQ(ParseRecordV3(line.data(), line.size(), words, now, true, &parsed), 0);
          WrittenFields fields;
          ASSERT_TRUE(check.Read(line.data(), &fields)) << text;
          ExpectSameFields(fields, parsed);
          for (size_t at = 0; at < line.size(); ++at) {
            for (unsigned char byte : kBytes) {
              std::vector<char> changed = line;
              changed[at] = static_cast<char>(byte);
              const bool valid = ParseRecordV3(changed.data(), changed.size(), words, now, true, &parsed) == 0;
              if (check.Read(changed.data(), &fields)) {
                ++taken;
                ASSERT_TRUE(valid) << "position " << at << " byte " << int{byte} << ": " << text;
                ExpectSameFields(fields, parsed);
              } else if (valid) {
                ++refused_valid;
              }
            }
          }
        }
        // Both ways are used: most changes keep the written form, and the valid
        // lines it refuses (blanks before digits, "N", other separators, NUL) go
        // the general way.
        EXPECT_GT(taken, refused_valid) << words;
        EXPECT_GT(refused_valid, 0) << words;
      }
    }
  }
}

// A name or host holding a control character is valid but never taken in
// the written form: the list would copy it raw into a line (a TAB splits a
// field, ESC steers the terminal); the general way shows it.
TEST(WrittenLineTest, ControlCharactersInNameOrHostGoTheGeneralWay) {
  PRJ r;
  std::memcpy(r.name, "Bahnhof Nord", 12);
  std::memcpy(r.host, "SRV1", 4);
  r.number = 12;
  std::string text;
  ASSERT_TRUE(FormatRecordV3(r, 1, &text));
  for (auto blocks : kEveryWay) {
    const WrittenLineCheck check(1, 1, true, blocks);
    WrittenFields fields;
    ASSERT_TRUE(check.Read(text.data(), &fields));
    for (size_t at : {size_t{0}, size_t{7}, size_t{L::kV3Host + 1}}) {
      for (unsigned char byte : {0x09, 0x1B, 0x7F, 0x01, 0x1F}) {
        std::string changed = text;
        changed[at] = static_cast<char>(byte);
        PRJ parsed;
        EXPECT_EQ(ParseRecordV3(changed.data(), changed.size(), 1, 1, true, &parsed), 0) << at << " " << int{byte};
        EXPECT_FALSE(check.Read(changed.data(), &fields)) << at << " " << int{byte};
      }
    }
  }
}

// 32-byte blocks where the processor has AVX2, 16 where it has SSE2 (every
// x86-64), byte by byte when asked: the tests here run every way the build has.
TEST(WrittenLineTest, EachWayWhereTheProcessorHasIt) {
  const WrittenLineCheck widest(2, 2, true);
  const WrittenLineCheck narrow(2, 2, true, WrittenLineCheck::Blocks::k16);
  const WrittenLineCheck bytes(2, 2, true, WrittenLineCheck::Blocks::k1);
#if defined(__x86_64__)
  __builtin_cpu_init();
  EXPECT_EQ(widest.block(), __builtin_cpu_supports("avx2") != 0 ? 32u : 16u);
  EXPECT_EQ(narrow.block(), 16u);
#else
  EXPECT_LE(widest.block(), 16u);
#endif
  EXPECT_EQ(bytes.block(), 1u);
}

// Lines built to hit the edges of each way's blocks: every byte value at
// the name's and the host's ends and at each block boundary of 16 and 32,
// and lines whose every byte is the same. All ways must agree on each,
// field for field, not only on whether it is taken.
TEST(WrittenLineTest, EveryWayGivesTheSameAnswerOnHostileLines) {
  std::mt19937 rng(11);
  for (int words : {1, 3, 31}) {
    const WrittenLineCheck wide(words, words, true), narrow(words, words, true, WrittenLineCheck::Blocks::k16),
        bytes(words, words, true, WrittenLineCheck::Blocks::k1);
    const size_t length = bytes.length();
    std::vector<std::vector<char>> lines;
    for (int byte = 0; byte < 256; ++byte) lines.emplace_back(length, static_cast<char>(byte));
    std::vector<size_t> edges = {
        L::kV3Name,    L::kV3NameEnd - 1, L::kV3NameEnd, L::kV3Host, L::kV3Host + L::kHostWidth - 1,
        L::kV3HostEnd, L::kV3Key,         L::kV3Members, length - 1};
    for (size_t at = 15; at < length; at += 16) edges.insert(edges.end(), {at, at + 1 < length ? at + 1 : at});
    for (int sample = 0; sample < 2; ++sample) {
      std::string text;
      ASSERT_TRUE(FormatRecordV3(RandomRecord(&rng), words, &text));
      lines.emplace_back(text.begin(), text.end());
      for (size_t at : edges) {
        for (int byte = 0; byte < 256; ++byte) {
          std::vector<char> changed(text.begin(), text.end());
          changed[at] = static_cast<char>(byte);
          lines.push_back(std::move(changed));
        }
      }
    }
    int taken = 0;
    for (const std::vector<char>& line : lines) {
      WrittenFields a{}, b{}, c{};
      const bool by_wide = wide.Read(line.data(), &a), by_narrow = narrow.Read(line.data(), &b),
                 by_bytes = bytes.Read(line.data(), &c);
      const std::string shown(line.begin(), line.end());
      ASSERT_EQ(by_wide, by_bytes) << shown;
      ASSERT_EQ(by_narrow, by_bytes) << shown;
      if (!by_bytes) continue;
      ++taken;
      for (const WrittenFields* other : {&a, &b}) {
        EXPECT_EQ(other->name, c.name);
        EXPECT_EQ(other->name_length, c.name_length) << shown;
        EXPECT_EQ(other->name_ascii, c.name_ascii) << shown;
        EXPECT_EQ(other->number, c.number);
        EXPECT_EQ(other->host, c.host);
        EXPECT_EQ(other->host_length, c.host_length) << shown;
        EXPECT_EQ(other->host_ascii, c.host_ascii) << shown;
        EXPECT_EQ(other->status, c.status) << shown;
        EXPECT_EQ(other->version, c.version);
        EXPECT_EQ(other->key, c.key);
      }
    }
    // Most single changes keep the written form: the comparison saw both answers.
    EXPECT_GT(taken, 1000) << words;
    EXPECT_LT(taken, static_cast<int>(lines.size())) << words;
  }
}

TEST(WrittenLineTest, KeyMustFitThirtyTwoBitsAndUnusedWordsAreNotRead) {
  PRJ r;
  std::memcpy(r.name, "Bahnhof", 7);
  std::memcpy(r.host, "SRV1", 4);
  r.dbkey = 0xFFFFFFFFu;
  std::string text;
  ASSERT_TRUE(FormatRecordV3(r, 3, &text));
  for (auto blocks : kEveryWay) {
    const WrittenLineCheck check(3, 1, true, blocks);
    std::vector<char> line(text.begin(), text.end());
    WrittenFields fields;
    EXPECT_TRUE(check.Read(line.data(), &fields));
    EXPECT_EQ(std::string(fields.key, 10), "4294967295");
    std::memcpy(line.data() + L::kV3Key, "4294967296", L::kKeyWidth);
    EXPECT_FALSE(check.Read(line.data(), &fields));
    std::memcpy(line.data() + L::kV3Key, "5000000000", L::kKeyWidth);
    EXPECT_FALSE(check.Read(line.data(), &fields));
    // The words of containers not in use are not read, by either way.
    std::memcpy(line.data() + L::kV3Key, "0000000001", L::kKeyWidth);
    line[L::kV3Members + 8] = 'Z';
    PRJ parsed;
    EXPECT_EQ(ParseRecordV3(line.data(), line.size(), 3, 1, true, &parsed), 0);
    EXPECT_TRUE(check.Read(line.data(), &fields));
    EXPECT_FALSE(WrittenLineCheck(3, 2, true, blocks).Read(line.data(), &fields));
  }
  // An installation whose container count is unknown (-1) reads no member words.
  const WrittenLineCheck none(1, -1, true);
  std::string plain;
  ASSERT_TRUE(FormatRecordV3(r, 1, &plain));
  plain[L::kV3Members] = 'Z';
  WrittenFields fields;
  EXPECT_TRUE(none.Read(plain.data(), &fields));
  // A single-user installation's lines carry no host: no written form.
  EXPECT_FALSE(WrittenLineCheck(3, 3, false).usable());
  EXPECT_FALSE(WrittenLineCheck(0, 0, true).usable());
}

}  // namespace
}  // namespace dovrane::extlib

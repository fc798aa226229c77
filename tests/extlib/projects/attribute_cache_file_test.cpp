#include "extlib/projects/attribute_cache_file.h"

#include <cerrno>

#include "extlib/projects/checksum.h"
#include <gtest/gtest.h>

namespace dovrane::extlib {
namespace {

std::string Sealed(const std::string& lines, int count) {
  std::string text = "DOVRANE-ATTRCACHE 1\n" + lines;
  return text + "END " + std::to_string(count) + " " + Crc32Hex(text) + "\n";
}

TEST(AttributeCacheFileTest, ValuesRoundTripByteForByte) {
  const AttributeValues values = {
      {"PRJ_CLIENT", "M\xFCller & S\xF6hne"},  // Windows-1252 as stored
      {"NOTE", "line one\nline two\r\nback\\slash\\n not an escape"},
      {"EMPTY", ""},
      {"BIN", std::string("a\0b\tc=d", 7)},
      {"LONG", std::string(kMaxAttributeValueBytes, 'x')}};
  std::string text;
  ASSERT_EQ(FormatAttributeCache(values, &text), 0);
  AttributeValues back;
  ASSERT_EQ(ParseAttributeCache(text, &back), 0);
  EXPECT_EQ(back, values);
  EXPECT_EQ(text.substr(0, 32), std::string("DOVRANE-ATTRCACHE 1\nBIN=a\0b\tc=d\n", 32));
}

TEST(AttributeCacheFileTest, InvalidValuesAreNotWritten) {
  const AttributeValues cases[] = {{{"", "x"}},
                                   {{"has blank", "x"}},
                                   {{"a=b", "x"}},
                                   {{std::string(65, 'N'), "x"}},
                                   {{"BIG", std::string(kMaxAttributeValueBytes + 1, 'x')}}};
  for (const AttributeValues& values : cases) {
    std::string text;
    EXPECT_EQ(FormatAttributeCache(values, &text), -EINVAL);
  }
}

TEST(AttributeCacheFileTest, DamagedFilesAreRefused) {
  const std::string good = Sealed("A=1\nB=two\n", 2);
  const std::string cases[] = {
      "", "A=1\n", good.substr(0, good.size() - 1), good.substr(0, 25),
      Sealed("A=1\nB=two\n", 3), Sealed("A=1\nA=2\n", 2), Sealed("no equals sign\n", 1),
      Sealed("bad name=1\n", 1), Sealed("A=\\t\n", 1), Sealed("A=trailing\\\n", 1),
      Sealed("A=cr\r\n", 1), "DOVRANE-ATTRCACHE 2" + good.substr(19),
      good.substr(0, good.size() - 9) + "00000000\n", Sealed("A=1\n", -1)};
  for (const std::string& text : cases) {
    AttributeValues values;
    EXPECT_EQ(ParseAttributeCache(text, &values), -EBADMSG) << text;
  }
  AttributeValues values;
  EXPECT_EQ(ParseAttributeCache(good, &values), 0);
  EXPECT_EQ(ParseAttributeCache(Sealed("", 0), &values), 0);
  EXPECT_TRUE(values.empty());
}

}  // namespace
}  // namespace dovrane::extlib

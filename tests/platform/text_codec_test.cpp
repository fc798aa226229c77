#include "platform/text_codec.h"

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

namespace dovrane::platform {
namespace {

TEST(TextCodecTest, Cp1252RoundTripsThroughUtf8) {
  const std::string cp1252 = "M\xFC" "ller \x80 Stra\xDF" "e \x8A";  // ü € ß Š
  std::string utf8 = Cp1252ToUtf8(cp1252);
  EXPECT_EQ(utf8, "M\xC3\xBCller \xE2\x82\xAC Stra\xC3\x9F" "e \xC5\xA0");
  std::string back;
  ASSERT_TRUE(Utf8ToCp1252(utf8, &back));
  EXPECT_EQ(back, cp1252);
}

// The list's table-driven writer gives what the general conversion gives,
// for every byte, within 4 bytes each; the unassigned 0x81 and friends (C1
// controls in UTF-8) are shown as \xHH instead.
TEST(TextCodecTest, WritingIntoABufferMatchesTheConversionForEveryByte) {
  std::string all, expected;
  for (int c = 0; c < 256; ++c) {
    all += static_cast<char>(c);
    const std::string one(1, static_cast<char>(c));
    expected += c >= 0x80 && IsControlCp1252(static_cast<unsigned char>(c)) ? ShowControlsCp1252(one, false)
                                                                              : Cp1252ToUtf8(one);
  }
  std::string out(4 * all.size(), '\0');
  char* end = PutCp1252AsUtf8(all.data(), all.size(), out.data());
  EXPECT_EQ(std::string(out.data(), end), expected);
  EXPECT_NE(expected.find("\\x81"), std::string::npos);
  // ASCII runs are taken eight bytes at a time: every length up to three
  // words, with one or two bytes beyond ASCII at every position. Each text
  // and output sits in a buffer of its exact size (ASan sees any overrun).
  for (size_t size = 1; size <= 24; ++size) {
    for (size_t at = 0; at < size; ++at) {
      for (size_t second : {size, (at + 9) % size}) {
        std::string text(size, 'a');
        for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i);
        text[at] = '\xE4';         // two bytes in UTF-8
        if (second < size) text[second] = '\x80';  // the euro sign: three
        const std::unique_ptr<char[]> in(new char[size]);
        std::memcpy(in.get(), text.data(), size);
        const std::unique_ptr<char[]> room(new char[3 * size]);
        char* put = PutCp1252AsUtf8(in.get(), size, room.get());
        EXPECT_EQ(std::string(room.get(), put), Cp1252ToUtf8(text)) << size << " " << at << " " << second;
      }
    }
  }
}

// What a stored name may hold to steer a terminal or break a line is shown;
// the rest stays as it was.
TEST(TextCodecTest, ControlCharactersAreShown) {
  EXPECT_EQ(ShowControlsCp1252("Br\xFC""cke 10", false), "Br\xFC""cke 10");
  EXPECT_EQ(ShowControlsCp1252("a\tb\nc\rd", false), "a\\tb\\nc\\rd");
  EXPECT_EQ(ShowControlsCp1252("a\tb\nc\rd", true), "a\tb\nc\rd");
  EXPECT_EQ(ShowControlsCp1252(std::string("\x1b[2J\x07\x7f\x9d\x00x", 9), true), "\\x1b[2J\\x07\\x7f\\x9d\\x00x");
}

TEST(TextCodecTest, RefusesTextWithoutWindows1252Form) {
  std::string out;
  EXPECT_FALSE(Utf8ToCp1252("\xE4\xB8\xAD", &out));  // a CJK character
  EXPECT_FALSE(Utf8ToCp1252("abc\xC3", &out));       // cut sequence
  EXPECT_FALSE(Utf8ToCp1252("\xFF", &out));          // not UTF-8
}

TEST(TextCodecTest, DosTextBecomesWindowsText) {
  EXPECT_EQ(Cp850ToCp1252("\x81\x84\x94\xE1"), "\xFC\xE4\xF6\xDF");  // ü ä ö ß
  EXPECT_EQ(Cp850ToCp1252("plain"), "plain");
}

TEST(TextCodecTest, CaseFoldingCoversLatinLetters) {
  EXPECT_TRUE(EqualsIgnoreCaseCp1252("STD", "std"));
  EXPECT_TRUE(EqualsIgnoreCaseCp1252("\xDC" "BER", "\xFC" "ber"));  // Über
  EXPECT_FALSE(EqualsIgnoreCaseCp1252("\xD7", "\xF7"));  // multiply and divide signs are no letters
  EXPECT_EQ(UpperCp1252(0xE9), 0xC9);
}

}  // namespace
}  // namespace dovrane::platform

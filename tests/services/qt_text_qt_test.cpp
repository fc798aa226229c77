// The window's boundary between QString and the installation's Windows-1252.
#include "services/qt_text_qt.h"

#include <gtest/gtest.h>

namespace dovrane::services {
namespace {

TEST(QtTextTest, WindowsCodePageTextsGoBothWaysAndOthersBecomeQuestionMarks) {
  std::string out;
  EXPECT_TRUE(ToCp1252(QString::fromUtf8("M\u00fcller \u20ac 5"), &out));
  EXPECT_EQ(out, "M\xfcller \x80 5");
  // A pair of halves is one character: one '?', and the answer says so.
  EXPECT_FALSE(ToCp1252(QString::fromUtf8("Haus \U0001F3E0 \u03a9"), &out));
  EXPECT_EQ(out, "Haus ? ?");
  // Every character the code page defines comes back as the byte it was.
  for (int byte = 0x20; byte <= 0xff; ++byte) {
    if (byte == 0x7f || byte == 0x81 || byte == 0x8d || byte == 0x8f || byte == 0x90 || byte == 0x9d) continue;
    const std::string one(1, static_cast<char>(byte));
    ASSERT_TRUE(ToCp1252(FromCp1252(one), &out)) << byte;
    EXPECT_EQ(out, one) << byte;
  }
}

}  // namespace
}  // namespace dovrane::services

#include "extlib/installation/language.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace dovrane::extlib {
namespace {

class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteFile(dir_ / "res/lang/english.lng",
                       "# test texts\n"
                       "100.1 = Delete project %1 on %2?\n"
                       "100.2 = Two\\nlines\\tand tab\n"
                       "101.1 = Gr\xC3\xBC\xC3\x9F" "e\n");
    testing::WriteFile(dir_ / "res/lang/german.lng", "100.1 = Projekt %1 auf %2 l\xC3\xB6schen?\n");
    testing::WriteFile(dir_ / "user.toml", "");
    ::setenv("DOVRANE_RES_DIR", (dir_ / "res").c_str(), 1);
    ::setenv("DOVRANE_HKCU", (dir_ / "user.toml").c_str(), 1);
    ::setenv("DOVRANE_HKLM", (dir_ / "machine.toml").c_str(), 1);
    ReloadLanguage();
  }
  void TearDown() override {
    ::unsetenv("DOVRANE_RES_DIR");
    ::unsetenv("DOVRANE_HKCU");
    ::unsetenv("DOVRANE_HKLM");
    ReloadLanguage();
  }
  testing::TempDir dir_;
};

// Workers and the window's thread ask for texts at once while the first
// load is under way, and a reload may drop the table meanwhile: each gets
// its whole text (ThreadSanitizer sees any unguarded load).
TEST_F(LanguageTest, ThreadsAskingAtOnceEachGetTheirText) {
  std::vector<std::thread> threads;
  std::vector<std::string> got(4);
  for (size_t t = 0; t < got.size(); ++t)
    threads.emplace_back([&got, t] {
      for (int round = 0; round < 200; ++round) {
        if (t == 0 && round % 20 == 0) ReloadLanguage();
        got[t] = LanguageText(100, 1, " A\x1E" "SRV1\x1E");
        if (got[t] != "Delete project A on SRV1?") return;
      }
    });
  for (auto& thread : threads) thread.join();
  for (const std::string& text : got) EXPECT_EQ(text, "Delete project A on SRV1?");
}

TEST_F(LanguageTest, ArgumentsFillPlaceholdersInOrder) {
  char out[256];
  int length = 0;
  ASSERT_EQ(ll_getTextZeile(100, 1, 256, " n0000012\x1E" "SRV1\x1E", out, &length), 0);
  EXPECT_STREQ(out, "Delete project n0000012 on SRV1?");
  EXPECT_EQ(length, 32);
  ASSERT_EQ(ll_getTextZeile(100, 2, 256, "", out, &length), 0);
  EXPECT_STREQ(out, "Two\nlines\tand tab");
  EXPECT_EQ(LanguageText(101, 1), "Gr\xFC\xDF" "e");  // kept as Windows-1252
}

TEST_F(LanguageTest, ResultIsCutToTheBufferAndMissingTextsAreMarked) {
  char out[8];
  int length = 0;
  ll_getTextZeile(100, 1, sizeof out, "", out, &length);
  EXPECT_EQ(length, 7);
  EXPECT_STREQ(out, "Delete ");
  char big[64];
  EXPECT_EQ(ll_getTextZeile(999, 1, sizeof big, "", big, &length), -1);
  EXPECT_STREQ(big, "<text 999,1>");
}

TEST_F(LanguageTest, GermanIsChosenByTheInstalledLanguage) {
  EXPECT_NE(ll_get_language(), 0);
  testing::WriteFile(dir_ / "user.toml", "[Settings]\nInstalledLanguageLCID = 1031\n");
  ReloadLanguage();
  EXPECT_EQ(ll_get_language(), 0);
  EXPECT_EQ(LanguageText(100, 1, " A\x1E" "B\x1E"), "Projekt A auf B l\xF6schen?");
}

}  // namespace
}  // namespace dovrane::extlib

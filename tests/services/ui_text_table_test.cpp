#include "services/ui_text_table.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/services/ui_text_test_env.h"

namespace dovrane::services {
namespace {

using testing::kEnglish;
using testing::kGerman;

class UiTextTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetUiTextCache(); }
  std::string Text(int group, unsigned item, const char* args = nullptr) { return LookupUiText(group, item, args); }
  testing::UiTextEnv env_;
};

TEST_F(UiTextTableTest, RecordsStandInTheirPlaces) {
  struct Row {
    int index;
    int32_t number, line, group;
    unsigned item;
  };
  const Row rows[] = {
      {0, 0, 1, -1, 0xFFFFFFFFu},   {1, 2500400, 1, 114, 3},      {8, 2500400, 1, 114, kUiItemCadUser},
      {15, 2500189, 1, 114, 1030},  {25, 2500443, 3, 153, 2},     {26, 2500450, 1, 1015, 4102},
      {47, 2500471, 1, 1015, 4123}, {51, 2500470, 4, 1015, 4127}, {58, 2500451, 2, 1015, 4134},
      {77, 2500486, 2, 1, 7},       {93, 2500491, 2, 3, 16},      {94, 2500492, 1, 101, 1},
      {98, 2500700, 1, 131, 1},     {100, 2500700, 3, 131, 1010}, {106, 2500494, 1, 114, 4103},
      {113, 2500187, 6, 132, 6},    {114, -1, -1, -1, 0},
  };
  const auto& table = UiTextTable();
  for (const Row& r : rows) {
    const UiTextRecord& rec = table[r.index];
    EXPECT_EQ(rec.text_number, r.number) << r.index;
    EXPECT_EQ(rec.line, r.line) << r.index;
    EXPECT_EQ(rec.group, r.group) << r.index;
    EXPECT_EQ(static_cast<unsigned>(rec.item), r.item) << r.index;
  }
  EXPECT_EQ(*table[0].text, kUiFallbackText);
  EXPECT_FALSE(table[114].text.has_value());
}

TEST_F(UiTextTableTest, BuiltInTextsHoldInEveryLanguage) {
  for (long lcid : {kEnglish, kGerman}) {
    env_.UseLanguage(lcid);
    ResetUiTextCache();
    EXPECT_EQ(Text(114, kUiItemCadUser), "CAD-User");
    EXPECT_EQ(Text(114, 3), "Copy Office Standard");
    EXPECT_EQ(Text(114, kUiItemCopy), "Copy");
    EXPECT_EQ(Text(114, kUiItemMove), "Move");
    // Four records share 2500400 line 1; the one without a built-in text shows it.
    EXPECT_EQ(Text(114, kUiItemTabCaption), extlib::LanguageText(2500400, 1));
  }
}

TEST_F(UiTextTableTest, GermanAndEnglishLookupsOfOneKeyDiffer) {
  env_.UseLanguage(kEnglish);
  std::string english = Text(114, 1008);
  env_.UseLanguage(kGerman);
  EXPECT_EQ(Text(114, 1008), english) << "the first lookup fixes the text for the run";
  ResetUiTextCache();
  std::string german = Text(114, 1008);
  EXPECT_EQ(english, "&Close");
  EXPECT_EQ(german,
            "&Schlie\xDF"
            "en");  // Windows-1252, as the system keeps texts
  EXPECT_EQ(Text(114, kUiItemTabCaption), "Projektverwaltung");
}

TEST_F(UiTextTableTest, UnknownKeysGiveTheFallbackAndChangeNothing) {
  struct Key {
    int group;
    unsigned item;
    const char* args;
  };
  const Key keys[] = {{999, 1, nullptr}, {114, 0xFFFF0007u, nullptr}, {-1, 0, nullptr}, {1015, 4135, "x"},
                      {3, 9, nullptr},   {-1, 0xFFFFFFFFu, "a#b"}};
  for (const Key& k : keys) EXPECT_EQ(Text(k.group, k.item, k.args), kUiFallbackText) << k.group;
  // The fallback survives an argument lookup of its own key.
  EXPECT_EQ(Text(999, 1), kUiFallbackText);
  for (int i = 1; i < kUiTextRecordCount - 1; ++i) {
    bool builtin = i == 1 || i == 8 || i == 10 || i == 11;
    EXPECT_EQ(UiTextTable()[i].text.has_value(), builtin) << i;
  }
}

TEST_F(UiTextTableTest, ArgumentTextLeavesEmptyValuesOut) {
  const std::pair<const char*, std::string> cases[] = {
      {"n0000012#Office",
       " n0000012\x1E"
       "Office\x1E"},
      {"#n0000012", " n0000012\x1E"},
      {"n0000012#", " n0000012\x1E"},
      {"a##b",
       " a\x1E"
       "b\x1E"},
      {"###", " "},
      {"", " "},
      {"one", " one\x1E"},
  };
  for (const auto& [args, expected] : cases) EXPECT_EQ(BuildUiTextArguments(args), expected) << args;
}

TEST_F(UiTextTableTest, ArgumentsFillPlaceholdersAndReplaceTheCache) {
  EXPECT_EQ(Text(2, 3, "n0000012#Office"), "Do you really want to delete project n0000012?");
  EXPECT_EQ(Text(2, 3), "Do you really want to delete project n0000012?");
  EXPECT_EQ(Text(2, 3, "n0000013"), "Do you really want to delete project n0000013?");
  EXPECT_EQ(Text(2, 1, "#n0000012##SRV1#"), "Copy project n0000012 to SRV1?");
  EXPECT_EQ(Text(3, 2, "\\\\SRV1\\a#\\\\SRV1\\b"), "\\\\SRV1\\a cannot be renamed to \\\\SRV1\\b.");
  EXPECT_EQ(Text(1015, 4127, "PC7"), "Add this computer (PC7) as data server");
}

TEST_F(UiTextTableTest, ArgumentLookupDropsABuiltInText) {
  EXPECT_EQ(Text(114, kUiItemCadUser, "x"), "Project administration");
  EXPECT_EQ(Text(114, kUiItemCadUser), "Project administration");
  EXPECT_EQ(Text(114, kUiItemCopy), "Copy") << "other records sharing the text keep theirs";
  ResetUiTextCache();
  EXPECT_EQ(Text(114, kUiItemCadUser), "CAD-User");
}

TEST_F(UiTextTableTest, WorkersGetTheirOwnTextWhileAnotherLooksUp) {
  auto ask = [](const std::string& number, int* wrong) {
    const std::string expected = "Do you really want to delete project " + number + "?";
    for (int i = 0; i < 1000; ++i) *wrong += UiText(2, 3, number.c_str()) != expected;
  };
  int wrong_worker = 0, wrong_here = 0;
  std::thread worker(ask, "n0000012", &wrong_worker);
  ask("n0000013", &wrong_here);
  worker.join();
  EXPECT_EQ(wrong_worker + wrong_here, 0);
}

TEST_F(UiTextTableTest, LibraryResultIsTakenAsItComes) {
  std::string long_text(300, 'L');
  env_.UseResources(env_.MakeResources("2500405.1 = " + long_text + "\n"));
  EXPECT_EQ(Text(114, 1008), long_text.substr(0, 255));
  EXPECT_EQ(Text(114, 1009), "<text 2500405,2>");  // what the library writes for a missing text
  EXPECT_EQ(Text(114, 1009), "<text 2500405,2>");
}

}  // namespace
}  // namespace dovrane::services

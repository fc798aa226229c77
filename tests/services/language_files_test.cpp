// The English and German language files: every text the system asks for is
// there, in both languages, with the same placeholders, and fits the 256-byte
// result buffer.
#include <gtest/gtest.h>

#include <filesystem>

#include <map>
#include <regex>
#include <set>
#include <string>

#include "extlib/installation/language.h"
#include "platform/file_util.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "tests/services/ui_text_test_env.h"

namespace dovrane::services {
namespace {

using testing::kEnglish;
using testing::kGerman;
using Key = std::pair<long, int>;

// Language texts the system uses outside the UI text table.
const Key kLibraryTexts[] = {{1500098, 1}, {2200206, 1}, {2500406, 1}, {2500407, 1},
                             {2500408, 1}, {2500495, 1}, {2500495, 2}, {2500498, 1}};

class LanguageFilesTest : public ::testing::Test {
 protected:
  // Keys and raw (UTF-8, unescaped) texts of one file; duplicates counted.
  std::map<Key, std::string> ReadFile(const std::string& name, int* duplicates) {
    std::string contents;
    EXPECT_EQ(platform::ReadWholeFile(std::string(DOVRANE_SOURCE_RES_DIR) + "/lang/" + name, &contents), 0);
    std::map<Key, std::string> texts;
    static const std::regex line_re(R"(^(\d+)\.(\d+) = (.*)$)");
    size_t pos = 0;
    *duplicates = 0;
    while (pos < contents.size()) {
      size_t end = contents.find('\n', pos);
      if (end == std::string::npos) end = contents.size();
      std::string line = contents.substr(pos, end - pos);
      pos = end + 1;
      std::smatch m;
      if (line.empty() || line[0] == '#') continue;
      EXPECT_TRUE(std::regex_match(line, m, line_re)) << name << ": " << line;
      Key key{std::stol(m[1]), std::stoi(m[2])};
      if (!texts.emplace(key, m[3]).second) ++*duplicates;
    }
    return texts;
  }
  static std::set<char> Placeholders(const std::string& text) {
    std::set<char> found;
    for (size_t i = 0; i + 1 < text.size(); ++i)
      if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') found.insert(text[i + 1]);
    return found;
  }
  testing::UiTextEnv env_;
};

TEST_F(LanguageFilesTest, EveryTextTheSystemUsesExistsInBothLanguages) {
  std::set<Key> used(std::begin(kLibraryTexts), std::end(kLibraryTexts));
  for (int i = 1; i < kUiTextRecordCount - 1; ++i) used.insert({UiTextTable()[i].text_number, UiTextTable()[i].line});
  for (long lcid : {kEnglish, kGerman}) {
    env_.UseLanguage(lcid);
    for (const Key& key : used) {
      char out[256];
      int length = 0;
      EXPECT_EQ(extlib::ll_getTextZeile(key.first, key.second, 256, "", out, &length), 0)
          << "language " << lcid << " lacks " << key.first << "." << key.second;
      EXPECT_GT(length, 0);
    }
  }
}

// The program's own messages name their text number by a constant and
// their line by a number in the code: every such line must be in the files,
// or the window would show "<text N,L>" instead of the message.
TEST_F(LanguageFilesTest, EveryLineTheCodeNamesExistsInBothLanguages) {
  const std::map<std::string, long> numbers = {
      {"kHelpMenuTexts", extlib::kHelpMenuTexts},           {"kBrowseNoteTexts", extlib::kBrowseNoteTexts},
      {"kWindowMessageTexts", extlib::kWindowMessageTexts}, {"kNetErrorTexts", extlib::kNetErrorTexts},
      {"kCheckinReportTexts", extlib::kCheckinReportTexts}, {"kRepairTexts", extlib::kRepairTexts},
      {"kCheckoutTexts", extlib::kCheckoutTexts},           {"kProjectCommandTexts", extlib::kProjectCommandTexts}};
  static const std::regex use_re(R"(LanguageText(?:With)?\(\s*(?:extlib::)?(k\w+Texts),\s*(\d+)\s*[,)])");
  std::set<Key> used;
  const std::filesystem::path source = std::filesystem::path(DOVRANE_SOURCE_RES_DIR).parent_path();
  for (const char* folder : {"admin", "app", "checkout", "extlib", "fileops", "network", "services", "tree", "ui"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(source / folder)) {
      if (entry.path().extension() != ".cpp") continue;
      std::string code;
      ASSERT_EQ(platform::ReadWholeFile(entry.path().string(), &code), 0) << entry.path();
      for (auto it = std::sregex_iterator(code.begin(), code.end(), use_re); it != std::sregex_iterator(); ++it) {
        auto number = numbers.find((*it)[1]);
        ASSERT_NE(number, numbers.end()) << entry.path() << ": " << (*it)[0];
        used.insert({number->second, std::stoi((*it)[2])});
      }
    }
  }
  EXPECT_GT(used.size(), 60u);  // the scan found the program's messages
  int duplicates = 0;
  const auto english = ReadFile("english.lng", &duplicates);
  const auto german = ReadFile("german.lng", &duplicates);
  for (const Key& key : used) {
    EXPECT_TRUE(english.count(key)) << key.first << "." << key.second;
    EXPECT_TRUE(german.count(key)) << key.first << "." << key.second;
  }
}

TEST_F(LanguageFilesTest, BothFilesHoldTheSameKeysWithTheSamePlaceholders) {
  int english_duplicates = 0, german_duplicates = 0;
  auto english = ReadFile("english.lng", &english_duplicates);
  auto german = ReadFile("german.lng", &german_duplicates);
  EXPECT_EQ(english_duplicates, 0);
  EXPECT_EQ(german_duplicates, 0);
  ASSERT_EQ(english.size(), german.size());
  for (const auto& [key, text] : english) {
    auto it = german.find(key);
    ASSERT_NE(it, german.end()) << key.first << "." << key.second;
    EXPECT_EQ(Placeholders(text), Placeholders(it->second)) << key.first << "." << key.second;
  }
}

TEST_F(LanguageFilesTest, TextsHaveAWindowsFormThatFitsTheResultBuffer) {
  for (const char* name : {"english.lng", "german.lng"}) {
    int duplicates = 0;
    for (const auto& [key, text] : ReadFile(name, &duplicates)) {
      std::string cp1252;
      EXPECT_TRUE(platform::Utf8ToCp1252(text, &cp1252)) << name << " " << key.first;
      EXPECT_LT(text.size(), 256u) << name << " " << key.first << "." << key.second;
      EXPECT_FALSE(text.empty()) << name << " " << key.first << "." << key.second;
    }
  }
}

TEST_F(LanguageFilesTest, TextsLookedUpWithArgumentsCarryTheirPlaceholders) {
  // Each argument must show up in the text, in the order given.
  struct Use {
    int group;
    unsigned item;
    const char* args;
    const char* first;
    const char* second;
  };
  const Use uses[] = {
      {2, 1, "P1#H1", "P1", "H1"},  {2, 2, "P1#H1", "P1", "H1"},  {3, 2, "A1#B1", "A1", "B1"},
      {2, 3, "P1", "P1", ""},       {2, 6, "7", "7", ""},         {3, 1, "F1", "F1", ""},
      {3, 3, "F1", "F1", ""},       {3, 4, "F1", "F1", ""},       {3, 5, "F1", "F1", ""},
      {3, 6, "P1", "P1", ""},       {3, 7, "F1", "F1", ""},       {3, 13, "Pelomar", "Pelomar", ""},
      {1, 3, "P1", "P1", ""},       {1, 4, "F1", "F1", ""},       {1, 5, "F1", "F1", ""},
      {1, 6, "H1", "H1", ""},       {1, 18, "H1", "H1", ""},      {1, 19, "H1", "H1", ""},
      {1015, 4124, "D1", "D1", ""}, {1015, 4125, "H1", "H1", ""}, {1015, 4127, "H1", "H1", ""},
      {132, 2, "H1", "H1", ""},
  };
  for (long lcid : {kEnglish, kGerman}) {
    env_.UseLanguage(lcid);
    for (const Use& u : uses) {
      std::string text = LookupUiText(u.group, u.item, u.args);
      size_t at = text.find(u.first);
      ASSERT_NE(at, std::string::npos) << lcid << " (" << u.group << ", " << u.item << "): " << text;
      EXPECT_NE(text.find(u.second, at + 1), std::string::npos) << lcid << ": " << text;
    }
  }
}

}  // namespace
}  // namespace dovrane::services

#include "services/ui_text_table.h"

#include <cstring>
#include <mutex>

#include "extlib/installation/language.h"

namespace dovrane::services {

namespace {

// The fixed part of a record, built at compile time so that the table's size,
// order and unique keys are checked by the compiler.
struct UiTextEntry {
  int32_t text_number;
  int32_t line;
  int32_t group;
  int32_t item;
  const char* builtin;
};

constexpr int32_t Item(unsigned item) { return static_cast<int32_t>(item); }

class EntryBuilder {
 public:
  constexpr void Add(int32_t number, int32_t line, int32_t group, int32_t item, const char* builtin = nullptr) {
    if (count_ < kUiTextRecordCount) entries_[count_] = {number, line, group, item, builtin};
    ++count_;
  }
  constexpr int count() const { return count_; }
  constexpr const std::array<UiTextEntry, kUiTextRecordCount>& entries() const { return entries_; }

 private:
  std::array<UiTextEntry, kUiTextRecordCount> entries_{};
  int count_ = 0;
};

// data table: every window text, one entry a line, in the order of its groups.
constexpr EntryBuilder BuildEntries() {
  EntryBuilder b;
  b.Add(0, 1, -1, -1, kUiFallbackText);

  // Group 114: main window and common buttons.
  b.Add(2500400, 1, 114, 3, "Copy Office Standard");
  b.Add(2500403, 1, 114, 1);
  b.Add(2500404, 1, 114, 2);
  b.Add(2500405, 1, 114, 1008);
  b.Add(2500405, 2, 114, 1009);
  b.Add(2500405, 3, 114, 1010);
  b.Add(3100207, 1, 114, 1011);
  b.Add(2500400, 1, 114, Item(kUiItemCadUser), "CAD-User");
  b.Add(2500400, 1, 114, Item(kUiItemTabCaption));
  b.Add(2500400, 1, 114, Item(kUiItemCopy), "Copy");
  b.Add(2500400, 1, 114, Item(kUiItemMove), "Move");
  b.Add(2500402, 1, 114, Item(kUiItemPathCaption));
  b.Add(2500401, 1, 114, Item(kUiItemTreesLabel));
  b.Add(2500188, 1, 114, 1024);
  b.Add(2500189, 1, 114, 1030);

  // Group 111: progress window.
  b.Add(2500480, 1, 111, 1009);
  b.Add(2500481, 1, 111, 1010);

  // Group 2: questions about projects.
  b.Add(2500440, 1, 2, 1);
  b.Add(2500441, 1, 2, 2);
  b.Add(2500442, 1, 2, 3);
  b.Add(2500442, 2, 2, 5);
  b.Add(2500442, 3, 2, 6);
  b.Add(2500443, 1, 2, 4);

  // Group 153: name-cut dialog.
  b.Add(2500443, 2, 153, 1);
  b.Add(2500443, 3, 153, 2);

  // Group 1015: context-menu commands of the trees, tooltips.
  for (int32_t item = 4102; item <= 4123; ++item) b.Add(2500450 + (item - 4102), 1, 1015, item);
  b.Add(2500470, 7, 1015, 4124);
  b.Add(2500470, 10, 1015, 4125);
  for (int32_t item = 4126; item <= 4129; ++item) b.Add(2500470, 3 + (item - 4126), 1015, item);
  b.Add(2500470, 8, 1015, 4130);
  b.Add(2500470, 9, 1015, 4131);
  b.Add(1501045, 1, 1015, 4132);
  b.Add(2500390, 1, 1015, 4133);
  b.Add(2500451, 2, 1015, 4134);

  // Group 1: messages of the tree commands.
  for (int32_t item = 8; item <= 12; ++item) b.Add(2500472, item - 7, 1, item);
  b.Add(2500472, 6, 1, 15);
  b.Add(2500473, 1, 1, 13);
  b.Add(2500473, 3, 1, 14);
  b.Add(2500473, 2, 1, 16);
  b.Add(2500391, 1, 1, 17);
  b.Add(2500392, 1, 1, 18);
  b.Add(2500393, 1, 1, 19);
  b.Add(2500482, 1, 1, 1);
  b.Add(2500482, 2, 1, 2);
  b.Add(2500483, 1, 1, 3);
  b.Add(2500484, 1, 1, 4);
  b.Add(2500485, 1, 1, 5);
  b.Add(2500486, 1, 1, 6);
  b.Add(2500486, 2, 1, 7);

  // Group 3: check-out, check-in and file operations.
  for (int32_t item = 1; item <= 8; ++item) b.Add(2500600, item, 3, item);
  b.Add(2500487, 1, 3, 10);
  b.Add(2500488, 1, 3, 11);
  b.Add(2500489, 1, 3, 12);
  b.Add(2500490, 1, 3, 13);
  b.Add(2500490, 2, 3, 14);
  b.Add(2500490, 3, 3, 17);
  b.Add(2500491, 1, 3, 15);
  b.Add(2500491, 2, 3, 16);

  // Group 101: check-out comment dialog.
  b.Add(2500492, 1, 101, 1);

  // Group 3, continued.
  b.Add(2500493, 1, 3, 18);
  b.Add(2500493, 2, 3, 19);
  b.Add(2500474, 1, 3, 20);

  // Group 131: office-standard components dialog.
  constexpr int32_t kStdItems[] = {1, 1015, 1010, 1016, 1011, 1012, 1013, 1014};
  for (int32_t i = 0; i < 8; ++i) b.Add(2500700, i + 1, 131, kStdItems[i]);

  // Group 114, continued: status bar words.
  b.Add(2500494, 1, 114, 4103);
  b.Add(2500494, 2, 114, 4104);

  // Group 132: data-server browse dialog.
  for (int32_t item = 1; item <= 6; ++item) b.Add(2500187, item, 132, item);

  b.Add(-1, -1, -1, 0);
  return b;
}

constexpr EntryBuilder kBuilt = BuildEntries();
static_assert(kBuilt.count() == kUiTextRecordCount, "the table holds exactly 115 records");
constexpr const std::array<UiTextEntry, kUiTextRecordCount>& kEntries = kBuilt.entries();

constexpr bool KeysUnique() {
  for (int i = 0; i < kUiTextRecordCount - 1; ++i)
    for (int j = i + 1; j < kUiTextRecordCount - 1; ++j)
      if (kEntries[i].group == kEntries[j].group && kEntries[i].item == kEntries[j].item) return false;
  return true;
}
static_assert(KeysUnique(), "keys (group, item) are unique");
static_assert(kEntries[kUiTextRecordCount - 1].text_number == -1, "the last record is the terminator");

std::array<UiTextRecord, kUiTextRecordCount> InitialTable() {
  std::array<UiTextRecord, kUiTextRecordCount> table;
  for (int i = 0; i < kUiTextRecordCount; ++i) {
    const UiTextEntry& e = kEntries[i];
    table[i] = {e.text_number, e.line, e.group, e.item, std::nullopt};
    if (e.builtin) table[i].text = e.builtin;
  }
  return table;
}

std::array<UiTextRecord, kUiTextRecordCount>& Table() {
  static std::array<UiTextRecord, kUiTextRecordCount> table = InitialTable();
  return table;
}

// The table is process-wide; a worker's lookup must not meet the window's.
std::mutex& TableMutex() {
  static std::mutex mutex;
  return mutex;
}

// The record's text, fetched as the table's rules say. REQUIRES: TableMutex held.
const std::string& LookupLocked(int group, unsigned item, const char* args) {
  auto& table = Table();
  const int32_t key_item = static_cast<int32_t>(item);
  int found = -1;
  for (int i = 0; table[i].text_number != -1; ++i) {
    if (table[i].group == group && table[i].item == key_item) {
      found = i;
      break;
    }
  }
  // Record 0 is the fallback; an argument lookup must not replace it.
  if (found <= 0) return *table[0].text;

  UiTextRecord& record = table[found];
  char result[256];  // receives the text from the language library
  int length = 0;
  if (!args) {
    // A cached or built-in text needs no new lookup: the text is kept below once fetched.
    if (record.text) return *record.text;
    extlib::ll_getTextZeile(record.text_number, record.line, sizeof result, "", result, &length);
  } else {
    std::string arguments = BuildUiTextArguments(args);
    extlib::ll_getTextZeile(record.text_number, record.line, sizeof result, arguments.c_str(), result, &length);
    record.text.reset();
  }
  if (length < 0) length = 0;
  if (length > static_cast<int>(sizeof result) - 1) length = sizeof result - 1;
  if (!record.text) record.text = std::string(result, static_cast<size_t>(length));
  return *record.text;
}

}  // namespace

std::string BuildUiTextArguments(const char* args) {
  std::string text = " ";
  if (!args) return text;
  const char* value = args;
  for (;;) {
    const char* end = std::strchr(value, '#');
    size_t length = end ? static_cast<size_t>(end - value) : std::strlen(value);
    if (length > 0) {
      text.append(value, length);
      text.push_back('\x1E');
    }
    if (!end) break;
    value = end + 1;
  }
  return text;
}

const char* LookupUiText(int group, unsigned item, const char* args) {
  std::lock_guard<std::mutex> guard(TableMutex());
  return LookupLocked(group, item, args).c_str();
}

std::string UiText(int group, unsigned item, const char* args) {
  std::lock_guard<std::mutex> guard(TableMutex());
  return LookupLocked(group, item, args);
}

void ResetUiTextCache() {
  std::lock_guard<std::mutex> guard(TableMutex());
  Table() = InitialTable();
}

const std::array<UiTextRecord, kUiTextRecordCount>& UiTextTable() { return Table(); }

}  // namespace dovrane::services

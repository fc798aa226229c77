// The UI text table: every caption, button, menu entry, tooltip and message of
// the interactive parts is looked up by a key (group, item). A record names the
// text in the language files by text number and line; a few records carry a
// built-in English text. Looked-up texts stay cached for the rest of the run.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace dovrane::services {

// Pseudo items of group 114 for texts that belong to no control.
inline constexpr unsigned kUiItemCadUser = 0xFFFF0001u;
inline constexpr unsigned kUiItemTabCaption = 0xFFFF0002u;
inline constexpr unsigned kUiItemCopy = 0xFFFF0003u;
inline constexpr unsigned kUiItemMove = 0xFFFF0004u;
inline constexpr unsigned kUiItemPathCaption = 0xFFFF0005u;
inline constexpr unsigned kUiItemTreesLabel = 0xFFFF0006u;

// The text of record 0, returned for every key the table does not hold.
inline constexpr const char kUiFallbackText[] = "So was Dummes, kein Text :-(";

// Records: the fallback, 113 texts, the terminator.
inline constexpr int kUiTextRecordCount = 115;

struct UiTextRecord {
  int32_t text_number;  // -1 marks the terminator
  int32_t line;         // from 1
  int32_t group;
  int32_t item;                     // pseudo items 0xFFFF0001.. are stored as their 32-bit pattern
  std::optional<std::string> text;  // cached or built-in text; empty until looked up
};

// The record's text for (group, item). `args` is null or values separated by
// "#" that fill the text's placeholders %1, %2, ... in order; empty values are
// left out. A lookup with arguments fetches the text anew and replaces the
// cached one (a built-in text too). The pointer stays valid until the same
// record is looked up again with arguments. User-interface thread only.
const char* LookupUiText(int group, unsigned item, const char* args = nullptr);
// The same text as a value of the caller's: for any thread.
std::string UiText(int group, unsigned item, const char* args = nullptr);

// The argument text handed to the language library: one blank, then every
// non-empty "#"-separated value followed by the character 0x1E.
std::string BuildUiTextArguments(const char* args);

// Back to the start-up state: language texts dropped, built-in texts restored.
// For tests and for a change of the installed language while running.
void ResetUiTextCache();

// The table as it stands (read only), in table order.
const std::array<UiTextRecord, kUiTextRecordCount>& UiTextTable();

}  // namespace dovrane::services

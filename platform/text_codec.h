// Conversions between the code pages stored files use (Windows-1252, DOS 850)
// and the UTF-8 of the terminal, the command line, file names and the widgets.
#pragma once

#include <string>
#include <string_view>

namespace dovrane::platform {

std::string Cp1252ToUtf8(const std::string& text);
// The same, appended to out.
void AppendCp1252AsUtf8(const char* text, size_t size, std::string* out);
// The same written at out, which has room for 4 * size bytes; returns the end.
// For a field of the list: the bytes Windows-1252 leaves undefined are shown
// as \xHH (they would be C1 controls); ASCII is copied as it is (the list
// takes lines with ASCII controls the general way, which shows them).
char* PutCp1252AsUtf8(const char* text, size_t size, char* out);
// Returns false (and leaves *out unspecified) when text is not valid UTF-8 or
// holds a character that Windows-1252 cannot represent.
bool Utf8ToCp1252(const std::string& text, std::string* out);
// Characters of stored text that a terminal would act on, or that cannot
// stand in a field of a line: the C0 controls, DEL, and the bytes
// Windows-1252 leaves undefined (in UTF-8 they would be C1 controls, some of
// which terminals obey).
constexpr bool IsControlCp1252(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}
// Windows-1252 text with its control characters shown: TAB, LF and CR as
// \t, \n and \r, every other one as \xHH (two lower-case hex digits).
// keep_layout leaves TAB, LF and CR as they are (the layout of a message).
// Everything else is unchanged; text without controls comes back as it was.
std::string ShowControlsCp1252(std::string_view text, bool keep_layout);
// DOS text (code page 850) to Windows-1252; characters without a form become '_'.
std::string Cp850ToCp1252(const std::string& text);

// Case folding of a Windows-1252 character (ASCII and the Latin-1 letters).
unsigned char FoldCp1252(unsigned char c);
unsigned char UpperCp1252(unsigned char c);
bool EqualsIgnoreCaseCp1252(const std::string& a, const std::string& b);

}  // namespace dovrane::platform

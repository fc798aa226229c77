// Conversions between the code pages stored files use (Windows-1252, DOS 850)
// and the UTF-8 of the terminal, the command line, file names and the widgets.
#pragma once

#include <string>

namespace dovrane::platform {

std::string Cp1252ToUtf8(const std::string& text);
// The same, appended to out.
void AppendCp1252AsUtf8(const char* text, size_t size, std::string* out);
// The same written at out, which has room for 3 * size bytes; returns the end.
char* PutCp1252AsUtf8(const char* text, size_t size, char* out);
// Returns false (and leaves *out unspecified) when text is not valid UTF-8 or
// holds a character that Windows-1252 cannot represent.
bool Utf8ToCp1252(const std::string& text, std::string* out);
// DOS text (code page 850) to Windows-1252; characters without a form become '_'.
std::string Cp850ToCp1252(const std::string& text);

// Case folding of a Windows-1252 character (ASCII and the Latin-1 letters).
unsigned char FoldCp1252(unsigned char c);
unsigned char UpperCp1252(unsigned char c);
bool EqualsIgnoreCaseCp1252(const std::string& a, const std::string& b);

}  // namespace dovrane::platform

// The general library: command-line splitting, the library's message output,
// system information and small text helpers.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace dovrane::extlib {

class OperationContext;

// Splits a command line by the Windows rules (blanks separate, quotes group,
// backslashes escape a quote). *argc goes in as the maximum number of entries
// and comes back as the count. Returns non-zero when split; zero when there are
// more entries than the maximum or a quote is left open.
int String2ArgcArgv(const std::string& line, int* argc, std::vector<std::string>* argv);

// The library's message output: with mode 1 the text goes to standard error
// (the trace file), with mode 0 into a message box of the operation.
int lfperrC(OperationContext& ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));
void lfperrC_SetMode(int mode);
// Zero: the terminal takes the program's text as it is (converted at the edge).
[[nodiscard]] int lfperrC_IsOEMConverting();
// "name: <system error text of errno>" as an error message.
void lf_perror(OperationContext& ctx, const char* name);
// Date, program, computer, user, domain, system and working folder.
void lfPrintSystemInfo(FILE* stream);

// The file-access trace ("mit"): while on, every message text is echoed
// through lfperrC.
void setFileAccessTrace(int on);
[[nodiscard]] int getFileAccessTrace();
inline bool FileAccessTraceOn() { return getFileAccessTrace() != 0; }

// The date day.month.year as "dd.mm.yyyy" into out (at least 11 bytes).
void kgdate(int* day, int* month, int* year, char* out);
// Today's local date, for kgdate.
void TodayDate(int* day, int* month, int* year);
// Upper case in place, for the first length bytes (Windows-1252).
void StringGross(char* text, int length);
// Length of text (at most max) without trailing blanks.
int StringLaenge0(const char* text, int max);
// The lines of a text file without their line ends ("\n" or "\r\n"); a last
// line without an end counts, an end at the very end adds no empty line.
std::vector<std::string> TextLines(const std::string& text);

}  // namespace dovrane::extlib

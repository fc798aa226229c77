// The terminal the program was started from. Its streams are copied before
// standard output and error are redirected into the trace file, so messages
// still reach the person (or script) that started the program.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dovrane::platform {

class Terminal {
 public:
  // Takes copies of the standard streams; call once, before any redirection.
  static void CaptureOriginalStreams();
  // Puts the captured streams back as the standard streams (for a program
  // that takes over the process, which redirects them itself again).
  static void RestoreOriginalStreams();

  // Texts are Windows-1252 and are written as UTF-8.
  static void WriteOut(const std::string& text);
  // Text already in UTF-8, written as it is (a long list converted on the way).
  static void WriteOutUtf8(std::string_view utf8);
  // The pieces one after the other, with as few calls as the system allows
  // (a long list is written in a few hundred pieces).
  static void WriteOutUtf8(const std::vector<std::string_view>& pieces);
  static void WriteErr(const std::string& text);
  // For the crash handler: writes size bytes of ASCII text to standard error,
  // after ending a line left open, with write(2) alone (async-signal-safe).
  // Gathered progress and stdio buffers are not written out.
  static void WriteErrInHandler(const char* text, size_t size);
  // Progress to standard output: the item lines of a list (beginning with a
  // tab) are gathered for up to 50 ms and written together; any other line,
  // any other output or question and the end of the program write them out.
  static void WriteProgress(const std::string& text);
  static void FlushProgress();
  // True when the original standard output is a terminal.
  static bool OutIsTerminal();
  // One status line on a terminal's standard output, drawn in place (carriage
  // return, the text, erase to the line end); any other output, and the end
  // of the program, erase it first. Nothing when the output is no terminal.
  static void ShowStatus(const std::string& text);
  static void EraseStatus();
  // True when a person can answer a question: the original input is a terminal.
  static bool CanAsk();
  // Reads one line of the answer (UTF-8 converted to Windows-1252); false at
  // end of input or when there is no terminal.
  static bool ReadLine(std::string* line);
  // The warning sound of the terminal, when there is one.
  static void Beep();
};

// Redirects standard output and standard error into the file at native path,
// truncating it. Returns 0 or -errno; on failure the streams stay as they are.
int RedirectStandardStreams(const std::string& path);

}  // namespace dovrane::platform

// The progress console of long command-line runs: lines on the terminal,
// headed by the console's title.
#pragma once

#include "extlib/installation/progress.h"
#include "platform/messenger.h"

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::services {

inline constexpr long kInvalidConsole = -1;

// The command line's progress: the title as "== title ==" and every line as
// given, through the messenger's progress lines; counted runs show nothing
// there, and nobody can cancel.
class ConsoleProgress : public extlib::Progress {
 public:
  // messenger null: the current messenger at each line.
  explicit ConsoleProgress(platform::Messenger* messenger = nullptr) : messenger_(messenger) {}
  void Title(const std::string& title) override;
  void Line(const std::string& text) override;

 private:
  platform::Messenger* messenger_;
};

// The specified names, over the running operation's context (its progress).
// Opens the console and shows its title; returns its handle.
long lfConsoleCreate(extlib::OperationContext& ctx, const char* title);
// Writes formatted text (up to 1024 bytes) to the console. Returns the number
// of characters written; 0 for the handle 0 (no console) and nothing at all
// for the invalid handle.
int lfConsoleWrite(extlib::OperationContext& ctx, long handle, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace dovrane::services

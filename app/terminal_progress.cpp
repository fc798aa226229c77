#include "app/terminal_progress.h"
#include "app/command_line_context.h"

#include <cstdio>

#include "extlib/installation/general.h"
#include "extlib/installation/operation_context.h"
#include "platform/env.h"
#include "platform/terminal.h"

namespace dovrane::app {

namespace {
// A person reads a status line a few times a second; more costs time on a slow terminal.
constexpr int64_t kRedrawMs = 100;
}  // namespace

std::string StatusText(double done, double total, int64_t elapsed_ms) {
  char text[128];
  const double seconds = static_cast<double>(elapsed_ms) / 1000.0;
  const double rate = seconds > 0 ? done / seconds : 0;
  int n = std::snprintf(text, sizeof text, "%.0f of %.0f, %.1f/s", done, total, rate);
  if (rate > 0 && total >= done) {
    const long left = static_cast<long>((total - done) / rate + 0.5);
    std::snprintf(text + n, sizeof text - n, ", %ld:%02ld left", left / 60, left % 60);
  }
  return text;
}

void TerminalProgress::Line(const std::string& text) {
  // "\t<name> on host <host>", "\t\tdirectory doesn't exist ..."; a result
  // such as "\tOK, no problems found." is shown.
  const bool per_project = text.rfind("\t<", 0) == 0 || text.rfind("\t\t", 0) == 0;
  if (!per_project || verbose_) ConsoleProgress::Line(text);
  if (per_project) extlib::lfperrC(CommandLineContext(), "%s", text.c_str());  // the trace file keeps every line
}

void TerminalProgress::StartCounted(double total) {
  total_ = total;
  done_ = 0;
  started_ms_ = platform::CurrentEnv()->MonotonicMs();
  shown_ms_ = -1;
}

void TerminalProgress::Advance(double amount) {
  done_ += amount;
  const int64_t now = platform::CurrentEnv()->MonotonicMs();
  if (shown_ms_ >= 0 && now - shown_ms_ < kRedrawMs && done_ < total_) return;
  shown_ms_ = now;
  platform::Terminal::ShowStatus(StatusText(done_, total_, now - started_ms_));
}

void TerminalProgress::Finish() { platform::Terminal::EraseStatus(); }

}  // namespace dovrane::app

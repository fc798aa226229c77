#include "fileops/progress_sink.h"

#include <cstdio>

#include "platform/messenger.h"

namespace dovrane::fileops {

void ProgressMeter::Start(double total) {
  total_ = total;
  done_ = 0;
  shown_ = 0;
}

bool ProgressMeter::Advance(double amount, unsigned* percent) {
  done_ += amount;
  // A run without a total has nothing to show (the window divides by it).
  if (!(total_ > 0)) return false;
  double p = done_ / total_ * 100.0;
  if (!(p >= 1.0)) return false;  // also false for NaN and below 1
  unsigned whole = p >= 4294967295.0 ? 4294967295u : static_cast<unsigned>(p);
  if (whole <= shown_) return false;
  shown_ = whole;
  *percent = whole;
  return true;
}

void TerminalProgressSink::SetTitle(const std::string& title) {
  platform::CurrentMessenger()->ProgressLine(title + "\n");
}

void TerminalProgressSink::SetText(const std::string& text) {
  platform::CurrentMessenger()->ProgressLine(text + "\n");
}

void TerminalProgressSink::StartEndless() { last_line_ = 0; }

void TerminalProgressSink::StartCounted(double total) {
  meter_.Start(total);
  last_line_ = 0;
}

void TerminalProgressSink::Advance(double amount) {
  unsigned percent;
  if (!meter_.Advance(amount, &percent)) return;
  unsigned tenth = percent / 10 * 10;
  if (tenth <= last_line_) return;
  last_line_ = tenth;
  char line[32];
  std::snprintf(line, sizeof line, "%4u %%\n", tenth);
  platform::CurrentMessenger()->ProgressLine(line);
}

}  // namespace dovrane::fileops

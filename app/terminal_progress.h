// The progress of long repairs on a terminal: the phase headings as lines,
// one status line updated in place (done of total, rate, time left), and the
// per-project lines (those beginning with a tab and "<", or two tabs) in the trace file
// STDERR.OUT, on the terminal as well with --verbose. When the output is no
// terminal the command line keeps the plain console, every line as it was.
#pragma once

#include <cstdint>
#include <string>

#include "services/console.h"

namespace dovrane::app {

class TerminalProgress : public services::ConsoleProgress {
 public:
  explicit TerminalProgress(bool verbose) : verbose_(verbose) {}
  void Line(const std::string& text) override;
  void StartCounted(double total) override;
  void Advance(double amount) override;
  void Finish() override;

 private:
  bool verbose_;
  double total_ = 0, done_ = 0;
  int64_t started_ms_ = 0, shown_ms_ = -1;
};

// The status text: "120 of 400, 35.2/s, 0:08 left" (no time left before the
// first one is done).
std::string StatusText(double done, double total, int64_t elapsed_ms);

}  // namespace dovrane::app

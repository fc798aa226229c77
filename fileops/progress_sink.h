// What a long file operation tells the person watching it: a title, a text
// line, and either an endless indicator or a counted run of amounts against a
// total. The progress window of the main window is one sink; the command line
// shows the same as lines on the terminal.
#pragma once

#include <string>

namespace dovrane::fileops {

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetText(const std::string& text) = 0;
  // No total known: the indicator moves by itself.
  virtual void StartEndless() = 0;
  // A counted run: total (bytes, files, ...), done starts at 0.
  virtual void StartCounted(double total) = 0;
  // done += amount. Callers add what an operation returned without checking it,
  // so negative amounts (a failed copy's -1) are taken as they come.
  virtual void Advance(double amount) = 0;
};

// The arithmetic of a counted run: the percentage shown is done / total x 100,
// truncated, and only increases are shown, so it may pass 100 when the amounts
// add up to more than the total.
class ProgressMeter {
 public:
  void Start(double total);
  // Adds amount; returns true with *percent set when the shown percentage rises.
  bool Advance(double amount, unsigned* percent);
  unsigned Shown() const { return shown_; }

 private:
  double total_ = 0;
  double done_ = 0;
  unsigned shown_ = 0;
};

// The command-line sink: the title and text as progress lines, then a line
// at every tenth of the run ("  40 %").
class TerminalProgressSink : public ProgressSink {
 public:
  void SetTitle(const std::string& title) override;
  void SetText(const std::string& text) override;
  void StartEndless() override;
  void StartCounted(double total) override;
  void Advance(double amount) override;

 private:
  ProgressMeter meter_;
  unsigned last_line_ = 0;
};

}  // namespace dovrane::fileops

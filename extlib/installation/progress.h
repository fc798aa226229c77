// What a long operation tells the person watching it, whichever front end
// runs it: a title, text lines, an endless indicator or a counted run, and
// whether the person asked to stop. The command line writes the title and the
// lines on its progress console; the main window's progress window shows all
// of it and has a Cancel button.
#pragma once

#include <string>

namespace dovrane::extlib {

class Progress {
 public:
  virtual ~Progress() = default;
  // The console's title (the progress window's caption).
  virtual void Title(const std::string& title) = 0;
  // One text as the console writes it, line ends included.
  virtual void Line(const std::string& text) = 0;
  // No total known: the indicator moves by itself.
  virtual void StartEndless() {}
  // A counted run: total (bytes, files, projects), done starts at 0.
  virtual void StartCounted(double /*total*/) {}
  // done += amount. Callers add what an operation returned without checking
  // it, so negative amounts (a failed copy's -1) are taken as they come.
  virtual void Advance(double /*amount*/) {}
  // The run is over: a counted run stands at its end.
  virtual void Finish() {}
  // Asked at every copied block, every listed entry and every project of a
  // repair (possibly from a worker thread); true stops the operation.
  virtual bool CancelRequested() { return false; }
};

// The arithmetic of a counted run: the percentage shown is done / total x 100,
// truncated, and only increases are shown, so it may pass 100 when the amounts
// add up to more than the total. The fraction for a bar never decreases, stays
// within 0 and 1, and is 1 once the run is finished.
class ProgressMeter {
 public:
  void Start(double total);
  // Adds amount; returns true with *percent set when the shown percentage rises.
  bool Advance(double amount, unsigned* percent);
  void Finish();
  unsigned Shown() const { return shown_; }
  double Fraction() const { return fraction_; }

 private:
  double total_ = 0;
  double done_ = 0;
  unsigned shown_ = 0;
  double fraction_ = 0;
};

}  // namespace dovrane::extlib

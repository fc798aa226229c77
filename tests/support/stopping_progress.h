// A progress that stands in for the person at a progress window: it keeps
// the lines and every fraction the bar would show, and presses Cancel at the
// Nth time the operation asks (never when N is 0).
#pragma once

#include <string>
#include <vector>

#include "extlib/installation/progress.h"

namespace dovrane::testing {

class StoppingProgress : public extlib::Progress {
 public:
  explicit StoppingProgress(int cancel_at_poll = 0) : cancel_at_(cancel_at_poll) {}
  void Title(const std::string& title) override { lines.push_back("== " + title + " ==\n"); }
  void Line(const std::string& text) override { lines.push_back(text); }
  void StartCounted(double total) override {
    meter_.Start(total);
    fractions.push_back(meter_.Fraction());
  }
  void Advance(double amount) override {
    unsigned percent = 0;
    meter_.Advance(amount, &percent);
    fractions.push_back(meter_.Fraction());
  }
  void Finish() override {
    meter_.Finish();
    fractions.push_back(meter_.Fraction());
  }
  bool CancelRequested() override { return ++polls == cancel_at_; }

  std::vector<std::string> lines;
  std::vector<double> fractions;
  int polls = 0;

 private:
  int cancel_at_;
  extlib::ProgressMeter meter_;
};

}  // namespace dovrane::testing

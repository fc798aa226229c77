#include "extlib/installation/progress.h"

namespace dovrane::extlib {

void ProgressMeter::Start(double total) {
  total_ = total;
  done_ = 0;
  shown_ = 0;
  fraction_ = 0;
}

bool ProgressMeter::Advance(double amount, unsigned* percent) {
  done_ += amount;
  // A run without a total has nothing to show (the window divides by it).
  if (!(total_ > 0)) return false;
  double f = done_ / total_;
  if (f > fraction_) fraction_ = f < 1.0 ? f : 1.0;  // also false for NaN
  double p = f * 100.0;
  if (!(p >= 1.0)) return false;  // also false for NaN and below 1
  unsigned whole = p >= 4294967295.0 ? 4294967295u : static_cast<unsigned>(p);
  if (whole <= shown_) return false;
  shown_ = whole;
  *percent = whole;
  return true;
}

void ProgressMeter::Finish() { fraction_ = 1.0; }

}  // namespace dovrane::extlib

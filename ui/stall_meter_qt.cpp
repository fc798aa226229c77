#include "ui/stall_meter_qt.h"

#include <algorithm>

namespace dovrane::ui {

StallMeter::StallMeter(QObject* parent) : QObject(parent) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, &StallMeter::Tick);
}

void StallMeter::Start() {
  clock_.start();
  last_ms_ = 0;
  longest_ms_ = 0;
  timer_.start();
}

void StallMeter::Stop() {
  if (!timer_.isActive()) return;
  Tick();
  timer_.stop();
}

int64_t StallMeter::LongestMs() const {
  // A stall still going on counts too.
  if (timer_.isActive()) return std::max<int64_t>(longest_ms_, clock_.elapsed() - last_ms_);
  return longest_ms_;
}

void StallMeter::Tick() {
  int64_t now = clock_.elapsed();
  longest_ms_ = std::max<int64_t>(longest_ms_, now - last_ms_);
  last_ms_ = now;
}

}  // namespace dovrane::ui

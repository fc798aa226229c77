// The longest gap between two turns of the window thread's event loop while
// the meter runs: a short timer notes each turn, so any work that holds the
// thread (a disk walk, a copy, a blocking wait) shows as a long gap.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>

namespace dovrane::ui {

class StallMeter : public QObject {
  Q_OBJECT

 public:
  // The turns are noted every kTickMs; a gap is measured from one to the next.
  static constexpr int kTickMs = 5;

  explicit StallMeter(QObject* parent = nullptr);
  // Starts over with no gap seen.
  void Start();
  void Stop();
  // The longest gap in milliseconds since Start (up to now while running).
  int64_t LongestMs() const;

 private:
  void Tick();

  QTimer timer_;
  QElapsedTimer clock_;
  int64_t last_ms_ = 0;
  int64_t longest_ms_ = 0;
};

}  // namespace dovrane::ui

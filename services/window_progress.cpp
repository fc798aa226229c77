#include "services/window_progress.h"

#include <cmath>
#include <cstdio>

#include "platform/env.h"

namespace dovrane::services {

namespace {

// The text line shows one line: the last non-empty one of the text.
std::string LastLine(const std::string& text) {
  size_t end = text.find_last_not_of("\r\n");
  if (end == std::string::npos) return {};
  size_t start = text.find_last_of("\r\n", end);
  start = start == std::string::npos ? 0 : start + 1;
  return text.substr(start, end - start + 1);
}

}  // namespace

WindowProgress::WindowProgress(platform::Env* env) : env_(env ? env : platform::CurrentEnv()) {}

void WindowProgress::Title(const std::string& title) {
  std::lock_guard lock(mu_);
  state_.title = title;
  ++state_.generation;
}

void WindowProgress::Line(const std::string& text) {
  std::string line = LastLine(text);
  if (line.empty()) return;
  std::lock_guard lock(mu_);
  state_.line = std::move(line);
  ++state_.generation;
}

void WindowProgress::StartEndless() {
  std::lock_guard lock(mu_);
  state_.mode = ProgressMode::kEndless;
  state_.percent = 0;
  state_.finished = false;
  ++state_.generation;
}

void WindowProgress::StartCounted(double total) {
  int64_t now = env_->MonotonicMs();
  std::lock_guard lock(mu_);
  meter_.Start(total);
  started_ms_ = now;
  state_.mode = ProgressMode::kCounted;
  state_.percent = 0;
  state_.finished = false;
  ++state_.generation;
}

void WindowProgress::Advance(double amount) {
  std::lock_guard lock(mu_);
  unsigned percent = 0;
  if (meter_.Advance(amount, &percent)) {
    state_.percent = percent;
    ++state_.generation;
  }
}

void WindowProgress::Finish() {
  std::lock_guard lock(mu_);
  meter_.Finish();
  if (state_.mode == ProgressMode::kCounted && state_.percent < 100) state_.percent = 100;
  state_.finished = true;
  ++state_.generation;
}

ProgressSnapshot WindowProgress::Take() const {
  int64_t now = env_->MonotonicMs();
  std::lock_guard lock(mu_);
  ProgressSnapshot snapshot = state_;
  if (state_.mode == ProgressMode::kCounted && !state_.finished)
    snapshot.seconds_left = EstimateSecondsLeft(now - started_ms_, meter_.Fraction());
  return snapshot;
}

int64_t EstimateSecondsLeft(int64_t elapsed_ms, double fraction) {
  if (elapsed_ms < kTimeLeftAfterMs || !(fraction > 0) || fraction >= 1.0) return -1;
  // The rate so far holds for the rest: a copy's blocks take about equally long.
  double left_ms = static_cast<double>(elapsed_ms) * (1.0 - fraction) / fraction;
  double seconds = std::ceil(left_ms / 1000.0);
  return seconds > 1e9 ? int64_t{1000000000} : static_cast<int64_t>(seconds);
}

std::string FormatTimeLeft(int64_t seconds) {
  if (seconds < 0) return {};
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace dovrane::services

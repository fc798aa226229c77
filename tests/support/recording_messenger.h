// A messenger that records every message (text, caption, icon) and answers
// questions from a script, instead of showing anything.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/messenger.h"

namespace dovrane::testing {

struct RecordedMessage {
  std::string text;
  std::string caption;
  unsigned flags = 0;
};

class RecordingMessenger : public platform::Messenger {
 public:
  RecordingMessenger() : previous_(platform::SetCurrentMessenger(this)) {}
  ~RecordingMessenger() override { platform::SetCurrentMessenger(previous_); }

  // Answers for the next questions, in order; without one a question gets 0.
  void Answer(int result) { answers_.push_back(result); }

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    messages.push_back({text, caption, flags});
    texts.push_back(text);
    icons.push_back(flags & platform::kMbIconMask);
    if ((flags & platform::kMbButtonMask) == platform::kMbOk) return platform::kIdOk;
    if (answers_.empty()) return 0;
    int a = answers_.front();
    answers_.pop_front();
    return a;
  }
  // Every notice gets the handle notice_handle when one is set, else its
  // 1-based position.
  long ShowProgressNotice(const std::string& text) override {
    notices.push_back(text);
    return notice_handle ? notice_handle : static_cast<long>(notices.size());
  }
  void CloseProgressNotice(long handle) override {
    closed_notices.push_back(handle);
    ++closed;
  }
  void ProgressLine(const std::string& text) override { progress += text; }
  // Every message text, one after the other.
  std::string All() const {
    std::string all;
    for (const auto& t : texts) all += t;
    return all;
  }

  std::vector<RecordedMessage> messages;
  std::vector<std::string> texts, notices;
  std::vector<unsigned> icons;
  std::vector<long> closed_notices;
  std::string progress;
  long notice_handle = 0;
  int closed = 0;

 private:
  platform::Messenger* previous_;
  std::deque<int> answers_;
};

}  // namespace dovrane::testing

// A messenger that records every message (text, caption, icon) and progress
// line and answers questions from a script, instead of showing anything.
// It stands in for the user from its making to its end.
#pragma once

#include <deque>
#include <functional>
#include <initializer_list>
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
  RecordingMessenger(const RecordingMessenger&) = delete;
  RecordingMessenger& operator=(const RecordingMessenger&) = delete;

  // Answers for the next questions, in order; without one a question gets 0
  // (as a box nobody could answer). A box with only OK is answered OK and
  // takes no answer from the script.
  void Answer(int result) { answers_.push_back(result); }
  void Answer(const std::vector<int>& results) { answers_.insert(answers_.end(), results.begin(), results.end()); }
  void Answer(std::initializer_list<int> results) { answers_.insert(answers_.end(), results); }
  // Answers not yet given.
  size_t Unused() const { return answers_.size(); }

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    messages.push_back({text, caption, flags});
    texts.push_back(text);
    icons.push_back(flags & platform::kMbIconMask);
    if (on_message) on_message(text);
    if (responder) return responder(text);
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
  void ProgressLine(const std::string& text) override {
    progress += text;
    lines.push_back(text);
  }
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
  std::string progress;             // the progress lines as one text
  std::vector<std::string> lines;   // each progress line as given
  long notice_handle = 0;
  int closed = 0;
  // Runs before each message is answered (to swap media, say).
  std::function<void(const std::string&)> on_message;
  // When set, answers every message instead of the script.
  std::function<int(const std::string&)> responder;

 private:
  platform::Messenger* previous_;
  std::deque<int> answers_;
};

}  // namespace dovrane::testing

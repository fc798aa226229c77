// A messenger that keeps the texts instead of showing them, with their icons.
#pragma once

#include <string>
#include <vector>

#include "platform/messenger.h"

namespace dovrane::testing {

class RecordingMessenger : public platform::Messenger {
 public:
  RecordingMessenger() : previous_(platform::SetCurrentMessenger(this)) {}
  ~RecordingMessenger() override { platform::SetCurrentMessenger(previous_); }
  int MessageBox(const std::string& text, const std::string&, unsigned flags) override {
    texts.push_back(text);
    icons.push_back(flags & 0xF0);
    return platform::kIdOk;
  }
  long ShowProgressNotice(const std::string& text) override {
    notices.push_back(text);
    return notice_handle;
  }
  void CloseProgressNotice(long) override { ++closed; }
  void ProgressLine(const std::string&) override {}
  std::string All() const {
    std::string all;
    for (const auto& t : texts) all += t;
    return all;
  }

  std::vector<std::string> texts, notices;
  std::vector<unsigned> icons;
  long notice_handle = 7;
  int closed = 0;

 private:
  platform::Messenger* previous_;
};

}  // namespace dovrane::testing

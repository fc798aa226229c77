// Shared pieces of the file operation tests: a temporary folder, a messenger
// that answers from a script and records every box, and file helpers.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/messenger.h"

namespace dovrane::fileops::testing {

struct Box {
  std::string text;
  unsigned flags;
};

// Answers boxes from a script; a box with nothing left to answer gets 0 (as a
// box nobody could answer). on_box runs before each answer (to swap media).
class ScriptedMessenger : public platform::Messenger {
 public:
  ScriptedMessenger() { previous_ = platform::SetCurrentMessenger(this); }
  ~ScriptedMessenger() override { platform::SetCurrentMessenger(previous_); }

  void Answer(const std::vector<int>& answers) { answers_.insert(answers_.end(), answers.begin(), answers.end()); }
  int MessageBox(const std::string& text, const std::string&, unsigned flags) override {
    boxes.push_back({text, flags});
    if (on_box) on_box(text);
    if (responder) return responder(text);
    if (answers_.empty()) return 0;
    int a = answers_.front();
    answers_.pop_front();
    return a;
  }
  long ShowProgressNotice(const std::string&) override { return 1; }
  void CloseProgressNotice(long) override {}
  void ProgressLine(const std::string& text) override { lines.push_back(text); }
  size_t Unused() const { return answers_.size(); }

  std::vector<Box> boxes;
  std::vector<std::string> lines;
  std::function<void(const std::string&)> on_box;
  // When set, answers every box instead of the script.
  std::function<int(const std::string&)> responder;

 private:
  platform::Messenger* previous_;
  std::deque<int> answers_;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dovrane-fileops-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rest) const { return path_ + "/" + rest; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// Bytes that differ from block to block, so a piece in the wrong place shows.
inline std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
  return s;
}

}  // namespace dovrane::fileops::testing

#include "platform/messenger.h"

#include <atomic>

#include <cctype>

#include "platform/terminal.h"

namespace dovrane::platform {

namespace {
TerminalMessenger g_terminal_messenger;
// A thread left behind on a dead share may still ask for it while the window goes.
std::atomic<Messenger*> g_messenger{&g_terminal_messenger};

std::string WithNewline(std::string text) {
  if (text.empty() || text.back() != '\n') text.push_back('\n');
  return text;
}

struct Choice {
  const char* label;
  char key;
  int result;
};

// The answers a button set offers, in the order the box shows them.
int Choices(unsigned buttons, Choice out[3]) {
  switch (buttons) {
    case kMbOkCancel: out[0] = {"OK", 'o', kIdOk}; out[1] = {"Cancel", 'c', kIdCancel}; return 2;
    case kMbAbortRetryIgnore:
      out[0] = {"Abort", 'a', kIdAbort}; out[1] = {"Retry", 'r', kIdRetry}; out[2] = {"Ignore", 'i', kIdIgnore};
      return 3;
    case kMbYesNoCancel:
      out[0] = {"Yes", 'y', kIdYes}; out[1] = {"No", 'n', kIdNo}; out[2] = {"Cancel", 'c', kIdCancel};
      return 3;
    case kMbYesNo: out[0] = {"Yes", 'y', kIdYes}; out[1] = {"No", 'n', kIdNo}; return 2;
    case kMbRetryCancel: out[0] = {"Retry", 'r', kIdRetry}; out[1] = {"Cancel", 'c', kIdCancel}; return 2;
    default: return 0;
  }
}
}  // namespace

Messenger* CurrentMessenger() { return g_messenger; }

Messenger* SetCurrentMessenger(Messenger* messenger) {
  return g_messenger.exchange(messenger ? messenger : &g_terminal_messenger);
}

int TerminalMessenger::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  (void)caption;  // every box of the program has the same caption; the terminal shows the text
  Choice choices[3];
  int n = Choices(flags & kMbButtonMask, choices);
  const bool information = (flags & kMbIconMask) == kMbIconInformation;
  if (n == 0) {
    if (information)
      Terminal::WriteOut(WithNewline(text));
    else
      Terminal::WriteErr(WithNewline(text));
    return kIdOk;
  }
  Terminal::WriteErr(WithNewline(text));
  if (!Terminal::CanAsk()) return 0;
  std::string prompt;
  for (int i = 0; i < n; ++i) {
    prompt += i ? "/" : "";
    prompt += "[" + std::string(1, static_cast<char>(std::toupper(choices[i].key))) + "]" + (choices[i].label + 1);
  }
  for (;;) {
    Terminal::WriteErr(prompt + "? ");
    std::string line;
    if (!Terminal::ReadLine(&line)) return 0;
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos) continue;
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[p])));
    for (int i = 0; i < n; ++i)
      if (c == choices[i].key) return choices[i].result;
  }
}

long TerminalMessenger::ShowProgressNotice(const std::string& text) {
  Terminal::WriteOut(WithNewline(text));
  return 1;
}

void TerminalMessenger::CloseProgressNotice(long) {}

void TerminalMessenger::ProgressLine(const std::string& text) { Terminal::WriteProgress(text); }

}  // namespace dovrane::platform

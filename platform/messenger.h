// Where messages for the person go: message boxes in the main window, the
// terminal on the command line. Texts are Windows-1252. The flag and result
// values are the Windows message box values the rest of the system uses.
#pragma once

#include <string>

namespace dovrane::platform {

// Buttons.
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbOkCancel = 0x1;
inline constexpr unsigned kMbAbortRetryIgnore = 0x2;
inline constexpr unsigned kMbYesNoCancel = 0x3;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbRetryCancel = 0x5;
inline constexpr unsigned kMbButtonMask = 0xF;
// Icons.
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr unsigned kMbIconWarning = 0x30;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr unsigned kMbIconMask = 0xF0;
// Modality.
inline constexpr unsigned kMbTaskModal = 0x2000;
inline constexpr unsigned kMbSetForeground = 0x10000;

// Results; 0 means the box could not be shown (or nobody could answer it).
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

class Messenger {
 public:
  virtual ~Messenger() = default;
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  // A notice that stays while work goes on; returns a handle, or 0 when none
  // could be shown.
  virtual long ShowProgressNotice(const std::string& text) = 0;
  virtual void CloseProgressNotice(long handle) = 0;
  // One line of progress of a long operation (the progress console).
  virtual void ProgressLine(const std::string& text) = 0;
};

// Never null: the terminal messenger unless another was set.
Messenger* CurrentMessenger();
Messenger* SetCurrentMessenger(Messenger* messenger);

// Information goes to standard output, warnings and errors to standard error,
// questions are asked on the terminal; without one a question is unanswered.
class TerminalMessenger : public Messenger {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  long ShowProgressNotice(const std::string& text) override;
  void CloseProgressNotice(long handle) override;
  void ProgressLine(const std::string& text) override;
};

}  // namespace dovrane::platform

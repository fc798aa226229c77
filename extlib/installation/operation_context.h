// What one operation carries from its caller instead of process-wide state:
// the installation it works on (its slots, path map, project table and
// per-installation state), where its messages go (the operation's own messenger), its progress, the
// cancel flag, whether the person may be asked (the interactive flag), and
// the overwrite-all answer of its copies. The command line runs every
// operation with one context; the main window gives each operation on a
// worker thread its own, and answers its questions from the window's thread.
#pragma once

#include <atomic>
#include <string>

#include "extlib/installation/progress.h"
#include "platform/messenger.h"

namespace dovrane::platform {
class Env;
}

namespace dovrane::extlib {

class Installation;

class OperationContext {
 public:
  // installation must outlive the context; the mains give the process default
  // (ProcessInstallation), a part of an operation its caller's. messenger
  // null: the current messenger at each message. progress null: no progress
  // is shown.
  explicit OperationContext(Installation& installation, platform::Messenger* messenger = nullptr,
                            Progress* progress = nullptr)
      : installation_(&installation), messenger_(messenger), progress_(progress) {}
  OperationContext(const OperationContext&) = delete;
  OperationContext& operator=(const OperationContext&) = delete;

  Installation& installation() const;
  // A Windows path of the installation as this computer reaches it (its path map).
  std::string Native(const std::string& path) const;
  // A path of this computer as the installation's Windows path (its path map).
  std::string Windows(const std::string& path) const;
  // The Env the installation's operations use.
  platform::Env& Env() const;

  platform::Messenger& Messenger() const;
  Progress* progress() const { return progress_; }
  void SetProgress(Progress* progress) { progress_ = progress; }

  // The progress console's title and a formatted line (up to 1024 bytes), as
  // lfConsoleCreate and lfConsoleWrite wrote them; nothing without progress
  // or while the lines are off.
  void Title(const std::string& title);
  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Stops the operation at its next check; callable from any thread.
  void Cancel() { cancel_.store(true); }
  // Polled at every block, entry and project: true once Cancel was called or
  // the progress asked for it.
  bool Cancelled();

  // 1 on the command line at start; 0 in the dialog mode and for -checkout,
  // -erase_y and -move_y. While 1, erasing asks first and -restore/-update
  // end with a final notice.
  int interactive = 1;
  // While set, older targets of a copy are replaced without asking. Host
  // check-out clears it at its start; the copy engine sets it when the person
  // agrees to overwrite all further files.
  bool overwrite_all = false;
  // False: a full target volume fails a copy instead of offering to split the
  // file across media (a project's files must arrive whole).
  bool split_files = true;
  // False: the libraries' own message boxes are off for this operation (their
  // texts still reach the trace).
  bool library_messages = true;

 private:
  friend class NoProgressLines;
  friend OperationContext& DefaultContext();
  OperationContext() = default;  // the process default's, whichever is in place

  Installation* installation_ = nullptr;
  platform::Messenger* messenger_ = nullptr;
  Progress* progress_ = nullptr;
  bool lines_ = true;
  std::atomic<bool> cancel_{false};
};

// The process default: the process default installation, no progress, the
// current messenger. For the mains' own first steps and the places that work
// on the program's installation by definition (the sample installation, the
// network browse's fallback list); everything else is given its context.
OperationContext& DefaultContext();

// A part of an operation whose failure is expected (a lookup that may miss):
// the libraries' own messages are off, while the questions and boxes of the
// caller still go to the operation's messenger.
class QuietContext : public OperationContext {
 public:
  explicit QuietContext(OperationContext& of) : OperationContext(of.installation(), &of.Messenger()) {
    library_messages = false;
  }
};

// For a part of an operation that shows no progress lines (the host-scoped
// check, a single registration): its lines are off for the scope, while the
// bar and the cancel of the progress stay.
class NoProgressLines {
 public:
  explicit NoProgressLines(OperationContext& context) : context_(context), previous_(context.lines_) {
    context.lines_ = false;
  }
  ~NoProgressLines() { context_.lines_ = previous_; }
  NoProgressLines(const NoProgressLines&) = delete;
  NoProgressLines& operator=(const NoProgressLines&) = delete;

 private:
  OperationContext& context_;
  bool previous_;
};

}  // namespace dovrane::extlib

// The check-out comment dialog: before a host or a project is checked out,
// the person says why. The text becomes the "[Comment]" of the check-out
// information files; the last confirmed comment is offered again next time.
#pragma once

#include <optional>
#include <string>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace dovrane::checkout {

inline constexpr int kMaxCheckoutComment = 1024;

class CCheckoutCommentDlg : public QDialog {
  Q_OBJECT

 public:
  // mode: 0 host (the field shows this computer's name), 1 project (the
  // field shows project).
  CCheckoutCommentDlg(int mode, const std::string& project, QWidget* parent = nullptr);
  // The confirmed comment, Windows-1252 (a character it cannot hold becomes "?").
  const std::string& Comment() const { return comment_; }

 public slots:
  // Takes the comment and remembers it as "LastCheckoutComment".
  void accept() override;

 private:
  void CommentChanged();

  QLabel* label_;
  QLineEdit* name_;
  QLabel* hint_;
  QPlainTextEdit* edit_;
  QPushButton* ok_;
  std::string comment_;
};

// Runs the dialog modally: the comment, or nothing when it was cancelled.
std::optional<std::string> AskCheckoutComment(int mode, const std::string& project, QWidget* parent);

}  // namespace dovrane::checkout

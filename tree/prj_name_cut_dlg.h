// The dialog that lets the user shorten a project name that has become
// longer than 50 characters (a copy under a new name).
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace dovrane::tree {

class CPrjNameCutDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMaxNameLength = 50;

  // source_name: the name the new one was derived from; result: in the
  // proposed name, out on OK the accepted one (unchanged on Cancel). Both
  // outlive the dialog.
  CPrjNameCutDialog(const QString* source_name, QString* result, QWidget* parent = nullptr);

  QLineEdit* NameEdit() const { return name_edit_; }
  QLineEdit* MessageEdit() const { return message_edit_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

  void accept() override;

 private:
  const QString* source_name_;
  QString* result_;
  QLineEdit* message_edit_;
  QLineEdit* name_edit_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace dovrane::tree

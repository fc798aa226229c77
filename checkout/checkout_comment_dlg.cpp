#include "checkout/checkout_comment_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

#include "extlib/installation/settings.h"
#include "platform/system_names.h"
#include "platform/text_codec.h"
#include "services/ui_text_table.h"
#include "services/qt_text_qt.h"

namespace dovrane::checkout {

namespace {

constexpr char kSection[] = "Settings";
constexpr char kEntry[] = "LastCheckoutComment";

QString Text(int group, unsigned item) { return services::UiQText(group, item); }

}  // namespace

CCheckoutCommentDlg::CCheckoutCommentDlg(int mode, const std::string& project, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Varnholtek Dovranix"));
  setAccessibleName(windowTitle());
  label_ = new QLabel(Text(1015, mode == 1 ? 4102 : 4103) + ":", this);
  name_ = new QLineEdit(services::FromCp1252(mode == 1 ? project : platform::ComputerName()), this);
  name_->setReadOnly(true);
  name_->setAccessibleName(label_->text());
  label_->setBuddy(name_);
  const std::string hint = services::UiText(101, 1);
  hint_ = new QLabel(hint.rfind("So was Dummes", 0) == 0 ? QStringLiteral("Add comments to describe check out.")
                                                          : services::FromCp1252(hint),
                     this);
  edit_ = new QPlainTextEdit(this);
  edit_->setAccessibleName(hint_->text());
  edit_->setTabChangesFocus(true);
  hint_->setBuddy(edit_);
  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(Text(114, 1011), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton(Text(114, 1010), QDialogButtonBox::RejectRole);
  ok_->setAccessibleName(ok_->text().remove(QLatin1Char('&')));
  cancel->setAccessibleName(cancel->text().remove(QLatin1Char('&')));
  ok_->setDefault(true);
  ok_->setEnabled(false);
  auto* grid = new QGridLayout(this);
  grid->addWidget(label_, 0, 0);
  grid->addWidget(name_, 0, 1);
  grid->addWidget(hint_, 1, 0, 1, 2);
  grid->addWidget(edit_, 2, 0, 1, 2);
  grid->addWidget(buttons, 3, 0, 1, 2);
  connect(buttons, &QDialogButtonBox::accepted, this, &CCheckoutCommentDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CCheckoutCommentDlg::reject);
  const std::string last = extlib::GetProfileString(kSection, kEntry, "");
  if (!last.empty()) {
    edit_->setPlainText(services::FromCp1252(last));
    ok_->setEnabled(true);
  }
  connect(edit_, &QPlainTextEdit::textChanged, this, &CCheckoutCommentDlg::CommentChanged);
  edit_->setFocus();
  resize(500, 260);
}

void CCheckoutCommentDlg::CommentChanged() {
  // Any change enables OK, also one that empties the field.
  ok_->setEnabled(true);
  const QString text = edit_->toPlainText();
  if (text.size() <= kMaxCheckoutComment) return;
  QSignalBlocker block(edit_);
  edit_->setPlainText(text.left(kMaxCheckoutComment));
  edit_->moveCursor(QTextCursor::End);
}

void CCheckoutCommentDlg::accept() {
  // Free text: a character without a Windows-1252 form is kept as '?'.
  (void)services::ToCp1252(edit_->toPlainText().left(kMaxCheckoutComment), &comment_);
  extlib::WriteProfileString(kSection, kEntry, comment_);
  QDialog::accept();
}

std::optional<std::string> AskCheckoutComment(int mode, const std::string& project, QWidget* parent) {
  CCheckoutCommentDlg dialog(mode, project, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Comment();
}

}  // namespace dovrane::checkout

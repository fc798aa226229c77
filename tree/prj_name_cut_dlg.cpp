#include "tree/prj_name_cut_dlg.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "services/qt_text_qt.h"

namespace dovrane::tree {

CPrjNameCutDialog::CPrjNameCutDialog(const QString* source_name, QString* result, QWidget* parent)
    : QDialog(parent),
      source_name_(source_name),
      result_(result),
      message_edit_(new QLineEdit(this)),
      name_edit_(new QLineEdit(this)),
      ok_(new QPushButton(services::UiQText(114, 1011), this)),
      cancel_(new QPushButton(services::UiQText(114, 1010), this)) {
  setWindowTitle(QStringLiteral("Varnholtek Dovranix"));
  setAccessibleName(QStringLiteral("Shorten project name"));
  message_edit_->setReadOnly(true);
  message_edit_->setAccessibleName(QStringLiteral("Message"));
  name_edit_->setAccessibleName(QStringLiteral("Project name"));
  ok_->setAccessibleName(ok_->text().remove(QLatin1Char('&')));
  cancel_->setAccessibleName(cancel_->text().remove(QLatin1Char('&')));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &CPrjNameCutDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  const QString source = source_name_ ? *source_name_ : QString();
  QString name = result_ ? *result_ : QString();
  QString message = source;
  if (name.size() > kMaxNameLength) {
    name.truncate(kMaxNameLength);
    message = QStringLiteral("%1 \"%2\" %3").arg(services::UiQText(153, 1), source, services::UiQText(153, 2));
  }
  message_edit_->setText(message);
  message_edit_->setCursorPosition(0);
  name_edit_->setMaxLength(kMaxNameLength);
  name_edit_->setText(name);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* column = new QVBoxLayout(this);
  column->addWidget(message_edit_);
  column->addWidget(name_edit_);
  column->addLayout(buttons);
  resize(504, 127);  // the template's 336 x 78 dialog units
}

void CPrjNameCutDialog::accept() {
  if (result_) *result_ = name_edit_->text().left(kMaxNameLength);
  QDialog::accept();
}

}  // namespace dovrane::tree

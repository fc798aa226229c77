#include "ui/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/program_info.h"
#include "services/qt_text_qt.h"

namespace dovrane::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Varnholtek Dovranix"));
  setAccessibleName(QStringLiteral("About"));
  auto* icon = new QLabel(this);
  if (QFile::exists(QStringLiteral(":/icons/dovrane.svg")))
    icon->setPixmap(QIcon(QStringLiteral(":/icons/dovrane.svg")).pixmap(32, 32));
  auto* text = new QLabel(QStringLiteral("Varnholtek Dovranix\n") + services::FromCp1252(app::VersionText()), this);
  text->setObjectName(QStringLiteral("about_text"));
  text->setAccessibleName(QStringLiteral("About text"));
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(text, 1);
  auto* column = new QVBoxLayout(this);
  column->addLayout(row);
  column->addWidget(buttons);
}

}  // namespace dovrane::ui

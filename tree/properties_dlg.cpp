#include "tree/properties_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "platform/text_codec.h"
#include "services/qt_text_qt.h"

namespace dovrane::tree {

namespace {

QString Shown(const std::string& cp1252) { return services::FromCp1252(cp1252); }

QLabel* MakeLabel(QWidget* parent, const std::string& text, int control) {
  auto* label = new QLabel(Shown(text), parent);
  label->setObjectName(QStringLiteral("control%1").arg(control));
  label->setAccessibleName(Shown(text));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

CDlgProperties::CDlgProperties(const PropertiesInfo* info, const std::string& free_space_text, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(Shown(info->caption));
  setAccessibleName(Shown(info->caption));
  auto* grid = new QGridLayout(this);
  grid->addWidget(MakeLabel(this, TypeLine(*info), 1031), 0, 0, 1, 2);
  const std::pair<std::string, std::string> rows[] = {
      {info->name_label, info->name}, {info->path_label, info->path}, {info->info_label, InfoLine(*info)}};
  const int values[] = {1032, 1034, 1035}, labels[] = {1028, 1029, 1030};
  for (int i = 0; i < 3; ++i) {
    grid->addWidget(MakeLabel(this, rows[i].first, labels[i]), i + 1, 0);
    // A screen reader reads the value by its name; what it is, by its description.
    QLabel* value = MakeLabel(this, rows[i].second, values[i]);
    value->setAccessibleDescription(Shown(rows[i].first));
    grid->addWidget(value, i + 1, 1);
  }
  grid->addWidget(MakeLabel(this, info->space_label, 1033), 4, 0);
  QLabel* space = MakeLabel(this, free_space_text, 1036);
  space->setAccessibleDescription(Shown(info->space_label));
  grid->addWidget(space, 4, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  grid->addWidget(buttons, 5, 0, 1, 2, Qt::AlignHCenter);
  // A long name or path widens the dialog: the lines keep their whole text.
  grid->setSizeConstraint(QLayout::SetFixedSize);
}

QLabel* CDlgProperties::Line(int control) const {
  return findChild<QLabel*>(QStringLiteral("control%1").arg(control));
}

QString CDlgProperties::Text(int control) const {
  QLabel* label = Line(control);
  return label ? label->text() : QString();
}

}  // namespace dovrane::tree

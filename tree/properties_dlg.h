// The properties dialog of a project or a host: what it is, its name and
// folder, its files (and projects) with their size, and the free space of
// its volume. The caller fills the record and runs the dialog modally.
#pragma once

#include <QDialog>

#include "tree/properties_info.h"

class QLabel;

namespace dovrane::tree {

class CDlgProperties : public QDialog {
  Q_OBJECT

 public:
  // info is the caller's and must outlive the dialog. free_space_text is
  // FreeSpaceLine(info->path), asked by the worker that measured the folder:
  // the window's thread never waits for a host's disk.
  CDlgProperties(const PropertiesInfo* info, const std::string& free_space_text, QWidget* parent = nullptr);

  // The shown texts by control number (1031 type, 1032 name, 1034 path, 1035
  // info, 1036 free space), for tests and screen readers.
  QString Text(int control) const;

 private:
  QLabel* Line(int control) const;
};

}  // namespace dovrane::tree

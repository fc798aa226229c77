#include "tree/prj_name_cut_dlg.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "support/mini_installation.h"
#include "services/qt_text_qt.h"

namespace dovrane::tree {
namespace {

TEST(PrjNameCutDialogTest, NamesOverFiftyAreCutAndExplained) {
  testing::MiniInstallation installation;
  installation.Activate();
  const QString source = QStringLiteral("Office tower");
  for (int length : {50, 51}) {
    const QString proposed = QStringLiteral("Copy of ") + QString(length - 8, QLatin1Char('x'));
    QString result = proposed;
    CPrjNameCutDialog dialog(&source, &result);
    EXPECT_EQ(dialog.NameEdit()->text(), proposed.left(50));
    const QString expected = length == 50 ? source
                                          : services::UiQText(153, 1) + QStringLiteral(" \"Office tower\" ") + services::UiQText(153, 2);
    EXPECT_EQ(dialog.MessageEdit()->text(), expected) << length;
    EXPECT_EQ(result, proposed);  // nothing changes before OK
  }
}

TEST(PrjNameCutDialogTest, TypingStopsAtFiftyAndOkOrCancelDecide) {
  const QString source = QStringLiteral("A");
  for (bool ok : {true, false}) {
    QString result = QStringLiteral("B");
    CPrjNameCutDialog dialog(&source, &result);
    dialog.NameEdit()->clear();
    QTest::keyClicks(dialog.NameEdit(), QString(60, QLatin1Char('n')));
    EXPECT_EQ(dialog.NameEdit()->text().size(), 50);
    QTest::mouseClick(ok ? dialog.OkButton() : dialog.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), ok ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(result, ok ? QString(50, QLatin1Char('n')) : QStringLiteral("B"));
  }
}

}  // namespace
}  // namespace dovrane::tree

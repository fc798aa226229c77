#include "services/gui_messenger_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include "services/window_progress.h"

namespace dovrane::services {
namespace {

using namespace platform;

TEST(GuiMessengerTest, FlagsChooseTheSystemsIconButtonsAndEscape) {
  struct Case {
    unsigned flags;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton escape;
  };
  const Case cases[] = {
      {kMbOk | kMbIconWarning, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok},
      {kMbOk | kMbIconError | kMbTaskModal, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok},
      {kMbOkCancel | kMbIconInformation, QMessageBox::Information, QMessageBox::Ok | QMessageBox::Cancel,
       QMessageBox::Cancel},
      {kMbYesNo | kMbIconQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No},
      {kMbYesNoCancel, QMessageBox::NoIcon, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
       QMessageBox::Cancel},
      {kMbRetryCancel | kMbIconError, QMessageBox::Critical, QMessageBox::Retry | QMessageBox::Cancel,
       QMessageBox::Cancel},
      {kMbAbortRetryIgnore | kMbIconWarning, QMessageBox::Warning,
       QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, QMessageBox::Abort},
  };
  for (const Case& c : cases) {
    BoxLayout layout = BoxLayoutFor(c.flags);
    EXPECT_EQ(layout.icon, c.icon) << std::hex << c.flags;
    EXPECT_EQ(layout.buttons, c.buttons) << std::hex << c.flags;
    EXPECT_EQ(layout.escape, c.escape) << std::hex << c.flags;
  }
}

TEST(GuiMessengerTest, PressedButtonsGiveTheSystemsResults) {
  const std::pair<QMessageBox::StandardButton, int> cases[] = {
      {QMessageBox::Ok, kIdOk},         {QMessageBox::Cancel, kIdCancel}, {QMessageBox::Abort, kIdAbort},
      {QMessageBox::Retry, kIdRetry},   {QMessageBox::Ignore, kIdIgnore}, {QMessageBox::Yes, kIdYes},
      {QMessageBox::No, kIdNo},         {QMessageBox::NoButton, 0},       {QMessageBox::Help, 0}};
  for (const auto& [button, result] : cases) EXPECT_EQ(BoxResult(button), result) << button;
}

TEST(GuiMessengerTest, BoxInTheWindowThreadShowsThePlainTextAndEscapeAnswersNo) {
  GuiMessenger messenger;
  QString text, title;
  Qt::TextFormat format = Qt::RichText;
  QObject::connect(&messenger, &GuiMessenger::boxShown, [&](QMessageBox* box) {
    text = box->text();
    title = box->windowTitle();
    format = box->textFormat();
    QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
  });
  int result = messenger.MessageBox("<b>n0000012</b> l\xf6schen?", "", kMbYesNo | kMbIconQuestion);
  EXPECT_EQ(result, kIdNo);
  EXPECT_EQ(text, QStringLiteral("<b>n0000012</b> löschen?"));
  EXPECT_EQ(format, Qt::PlainText);
  EXPECT_EQ(title, QStringLiteral("Varnholtek Dovranix"));
}

TEST(GuiMessengerTest, NoticesGoToTheProgressWindowOrAWindowOfTheirOwn) {
  GuiMessenger messenger;
  WindowProgress progress;
  messenger.SetActiveProgress(&progress);
  messenger.ShowProgressNotice("Bitte warten...");
  messenger.ProgressLine("n0000012.prj\n");
  EXPECT_EQ(progress.Take().line, "n0000012.prj");
  messenger.SetActiveProgress(nullptr);
  long handle = messenger.ShowProgressNotice("Bitte warten...");
  auto notice_shown = [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->findChild<QLabel*>() && w->findChild<QLabel*>()->text() == "Bitte warten...") return true;
    return false;
  };
  EXPECT_TRUE(notice_shown());
  messenger.CloseProgressNotice(handle);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !notice_shown(); }, 2000));
}

}  // namespace
}  // namespace dovrane::services

#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <memory>

#include "extlib/installation/installation.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/settings.h"
#include "platform/fault_injection_env.h"
#include "platform/threads_at_large.h"
#include "services/ui_text_table.h"
#include "support/mini_installation.h"
#include "support/recording_messenger.h"
#include "ui/about_dlg.h"
#include "ui/dovrane_dlg.h"
#include "ui/window_placement.h"

namespace dovrane::ui {
namespace {

// Catches the URLs the window hands to the desktop instead of opening them.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls.append(url); }
};

class DovraneDlgTest : public ::testing::Test {
 protected:
  DovraneDlgTest() {
    installation_.Activate();
    std::filesystem::current_path(installation_.work_dir());
  }
  ~DovraneDlgTest() override { std::filesystem::current_path(start_); }
  long Stored(const char* key) {
    long value = -1;
    extlib::GetSettingNumber("HKCU", key, &value);
    return value;
  }
  void ShowAndWait(CDovraneDlg& dialog) {
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  }

  std::filesystem::path start_ = std::filesystem::current_path();
  testing::MiniInstallation installation_;
  extlib::ScopedInstallation library_;
};

TEST_F(DovraneDlgTest, EscapeLeavesTheWindowOpen) {
  CDovraneDlg dialog;
  ShowAndWait(dialog);
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Varnholtek Dovranix"));
  EXPECT_EQ(Stored("Settings\\PingIsAllowed"), -1);  // nothing saved
}

TEST_F(DovraneDlgTest, StartUpSwitchesFromNopingFileAndSettings) {
  struct Case {
    bool noping;
    const char* stored;
    bool ping_checked, refresh_checked;
  };
  const Case cases[] = {{false, "", true, true},
                        {true, "", false, true},
                        {true, "PingIsAllowed = 1\n", true, true},
                        {false, "PingIsAllowed = 0\nRefreshIsAllowed = 0\n", false, false}};
  for (const Case& c : cases) {
    testing::WriteFile(installation_.user_settings(), std::string("[Settings]\n") + c.stored);
    std::filesystem::remove("noping");
    if (c.noping) testing::WriteFile(installation_.work_dir() + "/noping", "");
    CDovraneDlg dialog;
    EXPECT_EQ(dialog.PingCheckBox()->isChecked(), c.ping_checked) << c.stored << c.noping;
    EXPECT_EQ(dialog.ping_allowed.load(), c.ping_checked ? 1 : 0);
    EXPECT_EQ(dialog.RefreshCheckBox()->isChecked(), c.refresh_checked);
  }
}

// A screen reader switches the ping box through its accessible Toggle
// action, which toggles the box without a click: pinging follows the box.
TEST_F(DovraneDlgTest, PingBoxToggledThroughAccessibilitySwitchesPinging) {
  testing::WriteFile(installation_.user_settings(), "[Settings]\nPingIsAllowed = 0\n");
  CDovraneDlg dialog;
  ShowAndWait(dialog);
  QAccessibleInterface* box = QAccessible::queryAccessibleInterface(dialog.PingCheckBox());
  ASSERT_NE(box, nullptr);
  ASSERT_NE(box->actionInterface(), nullptr);
  ASSERT_TRUE(box->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
  box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_TRUE(dialog.PingCheckBox()->isChecked());
  EXPECT_EQ(dialog.ping_allowed.load(), 1);
  EXPECT_TRUE(dialog.ping_changed.load());  // the next tick runs the refresh check
  box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_EQ(dialog.ping_allowed.load(), 0);
}

TEST_F(DovraneDlgTest, CloseButtonAndCloseBoxSavePlacementAndSwitches) {
  for (bool close_box : {false, true}) {
    testing::WriteFile(installation_.user_settings(), "[Settings]\n");
    CDovraneDlg dialog;
    ShowAndWait(dialog);
    dialog.setGeometry(40, 50, 700 + close_box, 450);
    dialog.PingCheckBox()->click();  // off
    if (close_box) {
      dialog.close();
    } else {
      QTest::mouseClick(dialog.CloseButton(), Qt::LeftButton);
    }
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(Stored("Settings\\PingIsAllowed"), 0);
    EXPECT_EQ(Stored("Settings\\RefreshIsAllowed"), 1);
    WindowPlacement stored = LoadWindowPlacement({});
    EXPECT_EQ(stored.right - stored.left, 700 + close_box);
    EXPECT_EQ(stored.bottom - stored.top, 450);
  }
}

TEST_F(DovraneDlgTest, MaximisedOrMinimisedCloseKeepsTheStoredPlacement) {
  for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowMinimized}) {
    WindowPlacement before{kShowNormal, 0, -1, -1, -1, -1, 30, 830, 40, 640};
    ASSERT_TRUE(SaveWindowPlacement(before));
    CDovraneDlg dialog;
    EXPECT_EQ(dialog.width(), 800);  // the stored placement was applied
    ShowAndWait(dialog);
    dialog.resize(700, 500);  // a size that must not be stored
    dialog.setWindowState(state);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.windowState() & state; }, 2000));
    dialog.OnClose();
    EXPECT_EQ(LoadWindowPlacement({}).right, 830) << state;
    EXPECT_EQ(Stored("Settings\\RefreshIsAllowed"), 1);  // the switches still are saved
  }
}

TEST_F(DovraneDlgTest, PlacementOutsideTheScreensIsIgnored) {
  ASSERT_TRUE(SaveWindowPlacement({kShowNormal, 0, -1, -1, -1, -1, 90000, 90800, 40, 640}));
  CDovraneDlg dialog;
  EXPECT_LT(dialog.x(), 90000);
}

TEST_F(DovraneDlgTest, CheckOutButtonSendsHostCommandsByKind) {
  struct Case {
    uint32_t kind;
    bool checked_out_path;
    int command;  // 0: none
  };
  const Case cases[] = {{0x10000, false, 255}, {0x110000, false, 0}, {0x110000, true, 254}, {0x100000, true, 0}};
  for (const Case& c : cases) {
    testing::WriteFile(installation_.machine_settings(),
                       c.checked_out_path ? "[InstallRoot]\nCheckedOutPath = 'C:\\cad'\n" : "[InstallRoot]\n");
    std::vector<int> sent;
    CDovraneDlg::TreeHooks hooks;
    hooks.selected_host_kind = [&] { return c.kind; };
    hooks.host_command = [&](int command) { sent.push_back(command); };
    CDovraneDlg dialog(hooks);
    dialog.ping_allowed = 0;  // the user's choice survives the command
    dialog.OnCheckOut();
    EXPECT_EQ(sent, c.command ? std::vector<int>{c.command} : std::vector<int>{}) << std::hex << c.kind;
    EXPECT_EQ(dialog.ping_allowed.load(), 0);
    EXPECT_TRUE(dialog.CheckOutButton()->isEnabled());
  }
}

TEST_F(DovraneDlgTest, FirstFillRecordsTheTimeStampAndOutsideChangesRefill) {
  testing::WriteFile(installation_.net_dir() + "/project.dat", "v1");
  ASSERT_EQ(extlib::lfinipC(extlib::DefaultContext(), extlib::kSlotNet, installation_.net_dir() + "/"), 0);
  std::vector<QString> fills;
  CDovraneDlg::TreeHooks hooks;
  hooks.refill = [&](const QString& path) { fills.push_back(path); };
  CDovraneDlg dialog(hooks);
  ShowAndWait(dialog);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !fills.empty(); }, 5000));  // the first fill after 500 ms
  EXPECT_EQ(fills[0], QStringLiteral("WS1"));
  QSignalSpy done(&dialog, &CDovraneDlg::RefreshCheckDone);
  struct timeval later[2] = {{4000000, 0}, {4000000, 0}};
  ASSERT_EQ(::utimes((installation_.net_dir() + "/project.dat").c_str(), later), 0);
  dialog.outside_change = 0;  // an own write: no refill
  dialog.RefreshCheck(0);
  ASSERT_TRUE(done.wait(5000));
  EXPECT_EQ(fills.size(), 1u);
  later[0].tv_sec = later[1].tv_sec = 5000000;
  ASSERT_EQ(::utimes((installation_.net_dir() + "/project.dat").c_str(), later), 0);
  dialog.outside_change = 1;
  dialog.RefreshCheck(0);
  ASSERT_TRUE(done.wait(5000));
  EXPECT_EQ(fills.size(), 2u);
}

// A look-up of the administration still under way when the window closes is
// waited for (it would otherwise go on reading what its caller is tearing
// down); only one that outlasts the grace is left behind.
TEST_F(DovraneDlgTest, ClosingWaitsForALookUpUnderWay) {
  testing::WriteFile(installation_.net_dir() + "/project.dat", "v1");
  ASSERT_EQ(extlib::lfinipC(extlib::DefaultContext(), extlib::kSlotNet, installation_.net_dir() + "/"), 0);
  platform::FaultInjectionEnv slow;
  platform::Env* previous = platform::SetCurrentEnv(&slow);
  CDovraneDlg::TreeHooks hooks;
  hooks.refill = [](const QString&) {};
  auto dialog = std::make_unique<CDovraneDlg>(hooks);
  slow.SetPathDelay(installation_.net_dir(), 50);
  dialog->RefreshCheck(0);  // its look-up starts at once and waits 50 ms a call on the folder
  const auto start = std::chrono::steady_clock::now();
  dialog.reset();
  const auto closing = std::chrono::steady_clock::now() - start;
  slow.SetPathDelay("", 0);
  // One that outlasted the grace still reads through this Env: it ends first.
  EXPECT_TRUE(QTest::qWaitFor([] { return platform::ThreadsAtLarge() == 0; }, 5000));
  platform::SetCurrentEnv(previous);
  EXPECT_GE(closing, std::chrono::milliseconds(40));
  EXPECT_LT(closing, std::chrono::milliseconds(1000));
}

TEST_F(DovraneDlgTest, HelpOpensTheLanguagesDocumentOrNamesIt) {
  testing::WriteFile(installation_.machine_settings(),
                     "[InstallRoot]\nHelpPath = '" + installation_.root() + "/help'\n[Settings]\nInstalledLanguageLCID = 1031\n");
  testing::WriteFile(installation_.root() + "/help/1031/dovrane.html", "<html></html>");
  UrlCatcher catcher;
  testing::RecordingMessenger messenger;
  CDovraneDlg dialog;
  dialog.OnHelp();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher.urls.empty(); }, 5000));
  EXPECT_EQ(catcher.urls[0].toLocalFile().toStdString(), installation_.root() + "/help/1031/dovrane.html");
  std::filesystem::remove(installation_.root() + "/help/1031/dovrane.html");
  dialog.OnHelp();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messenger.messages.empty(); }, 5000));
  EXPECT_NE(messenger.messages[0].text.find("/HELP/1031/DOVRANE.HTML\n\n"), std::string::npos);
  EXPECT_EQ(messenger.messages[0].caption, "Varnholtek Dovranix");
}

// Without a language setting, or for a language without pages, the English
// pages are opened rather than an error about a folder "0".
TEST_F(DovraneDlgTest, HelpFallsBackToTheEnglishPages) {
  testing::WriteFile(installation_.root() + "/help/1033/dovrane.html", "<html></html>");
  for (const std::string& language : {std::string(), std::string("InstalledLanguageLCID = 1036\n")}) {
    testing::WriteFile(installation_.machine_settings(),
                       "[InstallRoot]\nHelpPath = '" + installation_.root() + "/help'\n[Settings]\n" + language);
    UrlCatcher catcher;
    testing::RecordingMessenger messenger;
    CDovraneDlg dialog;
    dialog.OnHelp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher.urls.empty() || !messenger.messages.empty(); }, 5000));
    ASSERT_FALSE(catcher.urls.empty()) << language << messenger.messages[0].text;
    EXPECT_EQ(catcher.urls[0].toLocalFile().toStdString(), installation_.root() + "/help/1033/dovrane.html");
  }
}

TEST_F(DovraneDlgTest, AboutItemOpensTheAboutBox) {
  CDovraneDlg dialog;
  ShowAndWait(dialog);
  QString shown;
  QTimer::singleShot(0, &dialog, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (qobject_cast<CAboutDlg*>(modal)) shown = modal->windowTitle();
    if (modal) modal->close();
  });
  for (QAction* action : dialog.findChildren<QAction*>())
    if (action->data().toInt() == CDovraneDlg::kAboutCommand) action->trigger();
  EXPECT_EQ(shown, QStringLiteral("Varnholtek Dovranix"));
}

// The menu speaks the installation's language: no German item in an English window.
TEST_F(DovraneDlgTest, TheMenuIsInTheLanguageOfTheTexts) {
  struct Case {
    const char *lcid, *about, *close;
  };
  for (const auto& [lcid, about, close] : {Case{"1033", "&About Dovrane...", "&Close"},
                                          Case{"1031", "Inf&o \xC3\xBC" "ber Dovrane...", "&Schlie\xC3\x9F" "en"}}) {
    testing::WriteFile(installation_.machine_settings(),
                       std::string("[Settings]\nInstalledLanguageLCID = ") + lcid + "\n");
    // A change of language takes effect with the texts' next load.
    extlib::ReloadLanguage();
    services::ResetUiTextCache();
    CDovraneDlg dialog;
    QString text;
    for (QAction* action : dialog.findChildren<QAction*>())
      if (action->data().toInt() == CDovraneDlg::kAboutCommand) text = action->text();
    EXPECT_EQ(text, QString::fromUtf8(about)) << lcid;
    // The menu and the buttons agree.
    QStringList buttons;
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) buttons << button->text();
    EXPECT_TRUE(buttons.contains(QString::fromUtf8(close))) << lcid << " " << buttons.join(", ").toStdString();
  }
  // The next test starts in the language its own settings choose.
  extlib::ReloadLanguage();
  services::ResetUiTextCache();
}

TEST_F(DovraneDlgTest, StatusBarWithoutTreeShowsDataPathOrComputerName) {
  CDovraneDlg dialog;
  dialog.ShowItemInStatusBar(nullptr, {});
  EXPECT_EQ(dialog.StatusTexts(), (QStringList{"WS1", "   ", "   "}));
}

}  // namespace
}  // namespace dovrane::ui

#include "dovrane_dlg_qt_test.moc"

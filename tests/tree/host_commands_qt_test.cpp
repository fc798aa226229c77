// The host commands in the window: their refusals and messages, a host
// check-out through the "Check Out" button, and the button following the
// host tree's selection.
#include "tree/host_commands_qt.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>

#include "checkout/checkin_report.h"
#include "checkout/checkout_comment_dlg.h"
#include "checkout/std_copy_dlg.h"
#include "extlib/records/project_list.h"
#include "extlib/installation/settings.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_commands.h"
#include "tree/project_tree_model_qt.h"
#include "tree/project_trees_qt.h"
#include "ui/bm_button_ctrl.h"
#include "ui/dovrane_tab_ctrl.h"
#include "ui/main_window_qt.h"
#include "services/qt_text_qt.h"

extern char** environ;

namespace dovrane::tree {
namespace {

using namespace ui;  // the main window that the commands are driven through

// Answers the window's boxes (Yes or OK unless scripted) and confirms the
// check-out's two dialogs, recording what was shown.
class Answerer {
 public:
  Answerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
  }
  std::deque<QMessageBox::StandardButton> answers;
  QStringList boxes;
  int dialogs = 0;

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      if (box->property("answered").toBool()) return;
      box->setProperty("answered", true);
      boxes << box->text();
      QMessageBox::StandardButton answer = QMessageBox::Yes;
      if (!answers.empty()) answer = answers.front(), answers.pop_front();
      QAbstractButton* button = box->button(answer);
      if (!button) button = box->button(QMessageBox::Ok);
      if (button) QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    } else if (auto* comment = qobject_cast<checkout::CCheckoutCommentDlg*>(modal)) {
      ++dialogs;
      comment->accept();
    } else if (auto* standard = qobject_cast<checkout::CDovraneStdCopyDlg*>(modal)) {
      if (standard->Measured()) ++dialogs;
      standard->accept();  // waits until the sizes are measured
    }
  }
  QTimer timer_;
};

// A copy of sleep running under a name that contains word.
class CadProgram {
 public:
  CadProgram(const std::string& folder, const std::string& word) {
    const std::string program = folder + "/" + word + "-cad";
    std::filesystem::copy_file("/bin/sleep", program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::string arg0 = program, arg1 = "30";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ), 0);
    // Running once /proc shows the new program file.
    EXPECT_TRUE(QTest::qWaitFor([&] {
      return std::filesystem::read_symlink("/proc/" + std::to_string(pid_) + "/exe").string() == program;
    }, 5000));
  }
  ~CadProgram() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

class HostCommandsQtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.Activate();
    extlib::SetProjectListRevalidateMs(0);
    window_ = std::make_unique<MainWindow>();
    // No pinging of the sample's made-up hosts: switched off as the person
    // does it, so that the trees' checks leave it out too.
    if (dialog().PingCheckBox()->isChecked()) dialog().PingCheckBox()->click();
    ASSERT_EQ(dialog().ping_allowed.load(), 0);
    Show();
  }
  void TearDown() override { window_.reset(); }
  // Shows (or refills) the window and waits until every host has been checked.
  void Show() {
    QSignalSpy filled(&dialog(), &CDovraneDlg::TreesFilled);
    if (dialog().isVisible()) {
      dialog().RefillTrees(QString());
    } else {
      dialog().show();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->trees().PendingChecks() == 0; }, 20000));
    QTest::qWait(0);
  }
  CDovraneDlg& dialog() { return window_->dialog(); }
  tree::CDovraneTreeCtrl* hosts() { return dialog().TabCtrl()->HostTree(); }
  QModelIndex Host(const std::string& name) { return window_->trees().model()->HostIndex(name); }
  void Select(const std::string& host) {
    hosts()->SelectItem(Host(host));
    QTest::qWait(0);
  }
  // Runs a command and waits for its end.
  void Run(uint32_t id, const QModelIndex& item) {
    QSignalSpy ended(&window_->hostCommands(), &HostCommands::commandEnded);
    window_->hostCommands().Run(id, item);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 60000));
  }
  std::string Setting(const char* name) {
    std::string value;
    return extlib::GetSettingString("HKLM", name, &value) ? value : "<none>";
  }
  unsigned Status(uint32_t number) {
    extlib::PRJ r;
    return site_.Record(number, &r) ? r.status : 0xFF;
  }
  std::vector<uint32_t> Ws01Projects() {
    std::vector<uint32_t> numbers;
    for (uint32_t n = 1; n <= 8; ++n) {
      extlib::PRJ r;
      if (site_.Record(n, &r) && std::string(r.host) == "WS01") numbers.push_back(n);
    }
    return numbers;
  }

  testing::SampleSite site_{8, 2, true};
  testing::TempDir dir_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(HostCommandsQtTest, TheButtonFollowsTheSelectionAndTheHostCheckoutFile) {
  QPushButton* button = dialog().CheckOutButton();
  // Only this computer's host is checked out or in from the button.
  for (const auto& [host, enabled] : {std::pair{"SRV1", false}, {"WS01", true}, {"SRV2", false}, {"WS01", true}}) {
    Select(host);
    EXPECT_EQ(button->isEnabled(), enabled) << host;
  }
  EXPECT_EQ(button->text(), services::UiQText(114, 1));
  testing::WriteFile(site_.NetDir() + "/WS01.out", "[Host Checkout Information]\r\n");
  Show();
  EXPECT_EQ(button->text(), services::UiQText(114, 2));
  EXPECT_EQ(button->accessibleName(), services::UiQText(114, 2).remove(QLatin1Char('&')));  // what a screen reader says
  {
    // Shown as checked out, but this computer does not work on a copy: a
    // check-out cut short, which the button offers to finish or take back.
    Answerer answerer;
    answerer.answers = {QMessageBox::Cancel};
    Select("WS01");
    QSignalSpy ended(&window_->hostCommands(), &HostCommands::commandEnded);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 10000)) << "the button did nothing";
    ASSERT_EQ(answerer.boxes.size(), 1) << answerer.boxes.join("|").toStdString();
    EXPECT_TRUE(answerer.boxes[0].contains("was cut short")) << answerer.boxes[0].toStdString();
    EXPECT_TRUE(testing::Exists(site_.NetDir() + "/WS01.out"));  // Cancel changes nothing
  }
  std::filesystem::remove(site_.NetDir() + "/WS01.out");
  Show();
  EXPECT_EQ(button->text(), services::UiQText(114, 1));
  // A laptop working on its checked-out copy may not see that file: the
  // button checks in there, and says so.
  // (Asked directly: a refill would read the copy the setting names.)
  ASSERT_TRUE(extlib::PutSettingString("HKLM", "InstallRoot\\CheckedOutPath", dir_.path()));
  window_->hostCommands().UpdateButton();
  EXPECT_EQ(button->text(), services::UiQText(114, 2));
  ASSERT_TRUE(extlib::DeleteSetting("HKLM", "InstallRoot\\CheckedOutPath"));
  window_->hostCommands().UpdateButton();
  EXPECT_EQ(button->text(), services::UiQText(114, 1));
}

TEST_F(HostCommandsQtTest, TheButtonChecksTheHostOutAfterTheQuestionsAndDialogs) {
  const std::vector<uint32_t> projects = Ws01Projects();
  ASSERT_FALSE(projects.empty());
  Answerer answerer;
  Select("WS01");
  QSignalSpy ended(&window_->hostCommands(), &HostCommands::commandEnded);
  QTest::mouseClick(dialog().CheckOutButton(), Qt::LeftButton);
  // The button stays off while the check-out runs.
  ASSERT_TRUE(QTest::qWaitFor([&] { return answerer.dialogs == 2 || ended.count() == 1; }, 30000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 60000)) << answerer.boxes.join("|").toStdString();
  ASSERT_GE(answerer.boxes.size(), 1);
  EXPECT_EQ(answerer.boxes[0], services::UiQText(3, 18) + "\n" + services::UiQText(3, 19));
  EXPECT_EQ(answerer.dialogs, 2);
  EXPECT_EQ(Setting("InstallRoot\\CheckedOutPath"), "\\\\WS01\\cad") << answerer.boxes.join("|").toStdString();
  // The marks are in the network's administration; the library reads the host's copy now.
  const testing::InstallationState network = site_.State();
  for (uint32_t n : projects) EXPECT_EQ(network.records.at(n).status & 0x04, 0x04u) << n;
}

TEST_F(HostCommandsQtTest, CheckOutStopsAtTheFirstProjectThatIsNotFree) {
  const std::vector<uint32_t> projects = Ws01Projects();
  ASSERT_GE(projects.size(), 2u);
  site_.EditRecord(projects[1], [](extlib::PRJ* r) { r->status |= 0x01; });
  Show();
  Answerer answerer;
  answerer.answers = {QMessageBox::Yes, QMessageBox::Yes};
  Run(tree::kCmdCheckOutHost, Host("WS01"));
  ASSERT_FALSE(answerer.boxes.isEmpty());
  EXPECT_EQ(answerer.boxes.back(), services::UiQText(1, 1) + "\n\n" + services::UiQText(1, 2));
  EXPECT_EQ(answerer.dialogs, 0);
  EXPECT_EQ(Setting("InstallRoot\\CheckedOutPath"), "<none>");
  EXPECT_EQ(Status(projects[0]) & 0x04, 0u);
}

TEST_F(HostCommandsQtTest, NoToTheFirstQuestionChangesNothing) {
  Answerer answerer;
  answerer.answers = {QMessageBox::No};
  Run(tree::kCmdCheckOutHost, Host("WS01"));
  EXPECT_EQ(answerer.boxes.size(), 1);
  EXPECT_EQ(answerer.dialogs, 0);
  EXPECT_EQ(Setting("InstallRoot\\CheckedOutPath"), "<none>");
}

TEST_F(HostCommandsQtTest, RemovalAndReleaseAreRefusedWhileTheCadProgramRuns) {
  const std::string word = "pelomarhc" + std::to_string(::getpid());
  ASSERT_TRUE(extlib::PutSettingString("HKLM", "InstallRoot\\CadProgram", word));
  CadProgram cad(dir_.path(), word);
  const std::string data_cfg = testing::ReadFile(site_.NetDir() + "/data.cfg");
  Answerer answerer;
  Run(tree::kCmdRemoveHost, Host("SRV2"));
  ASSERT_EQ(answerer.boxes.size(), 2) << answerer.boxes.join("|").toStdString();
  EXPECT_EQ(answerer.boxes[0], services::UiQText(1015, 4125, "SRV2"));
  EXPECT_EQ(answerer.boxes[1], services::UiQText(3, 13, "Pelomar"));
  EXPECT_EQ(testing::ReadFile(site_.NetDir() + "/data.cfg"), data_cfg);

  // A project that went out with its host keeps its mark.
  const uint32_t number = Ws01Projects()[0];
  site_.EditRecord(number, [](extlib::PRJ* r) { r->status |= 0x04; });
  Show();
  const QModelIndex host = Host("WS01");
  QModelIndex project;
  for (int row = 0; row < host.model()->rowCount(host); ++row)
    if (hosts()->GetItemData(host.model()->index(row, 0, host)) == tree::kKindProjectOutWithHost)
      project = host.model()->index(row, 0, host);
  ASSERT_TRUE(project.isValid());
  answerer.boxes.clear();
  Run(tree::kCmdCheckInHost, project);
  ASSERT_EQ(answerer.boxes.size(), 1);
  EXPECT_EQ(answerer.boxes[0], services::UiQText(3, 13, (word + "-cad").c_str()));
  EXPECT_EQ(Status(number) & 0x04, 0x04u);
}

// The search row's path button in the assembled window: the chosen data
// path is registered (data.cfg, its marker file) and the window shows that
// server; a registration that fails takes back the empty Prj and Usr
// folders the browse dialog made, and nothing else.
TEST_F(HostCommandsQtTest, ThePathButtonRegistersTheChosenServer) {
  const std::string unc = site_.root() + "/unc";
  std::filesystem::create_directories(unc + "/SRV9/cad/Prj");
  std::filesystem::create_directories(unc + "/SRV9/cad/Usr");
  QString offered = "\\\\SRV9\\cad";
  int made = 0;
  window_->hostCommands().SetBrowse([&](QString* path, QWidget*, int, int* created) {
    *path = offered;
    *created = made;
    return 1;
  });
  Answerer answerer;
  QAbstractButton* button = dialog().TabCtrl()->Button(CDovraneTabCtrl::kPathButton);
  ASSERT_NE(button, nullptr);
  QSignalSpy ended(&window_->hostCommands(), &HostCommands::commandEnded);
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 60000)) << "the path button did nothing";
  EXPECT_NE(testing::ReadFile(site_.NetDir() + "/data.cfg").find("SRV9"), std::string::npos);
  EXPECT_TRUE(testing::Exists(unc + "/SRV9/cad/Prj/project.srv"));
  EXPECT_EQ(dialog().TabCtrl()->GetDataPath(), "SRV9");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Host("SRV9").isValid(); }, 20000));

  // SRV2 is listed already: refused, and the folders made for it go again
  // where they are empty.
  std::filesystem::create_directories(unc + "/SRV2/neu/Prj");
  std::filesystem::create_directories(unc + "/SRV2/neu/Usr");
  testing::WriteFile(unc + "/SRV2/neu/Usr/someone.txt", "kept");
  offered = "\\\\SRV2\\neu";
  made = 1;
  const std::string data_cfg = testing::ReadFile(site_.NetDir() + "/data.cfg");
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 2; }, 60000));
  EXPECT_EQ(testing::ReadFile(site_.NetDir() + "/data.cfg"), data_cfg);
  EXPECT_FALSE(testing::Exists(unc + "/SRV2/neu/Prj"));
  EXPECT_TRUE(testing::Exists(unc + "/SRV2/neu/Usr/someone.txt"));
  EXPECT_EQ(dialog().TabCtrl()->GetDataPath(), "SRV9");
}

TEST_F(HostCommandsQtTest, AHostIsRemovedAfterTheQuestion) {
  Answerer answerer;
  answerer.answers = {QMessageBox::Cancel};
  Run(tree::kCmdRemoveHost, Host("SRV2"));
  EXPECT_NE(testing::ReadFile(site_.NetDir() + "/data.cfg").find("SRV2"), std::string::npos);
  Run(tree::kCmdRemoveHost, Host("SRV2"));
  EXPECT_EQ(testing::ReadFile(site_.NetDir() + "/data.cfg").find("SRV2"), std::string::npos);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Host("SRV2").isValid(); }, 20000));
}

TEST_F(HostCommandsQtTest, CheckInHandsTheHostsProjectsToTheCheckIn) {
  std::vector<checkout::CheckoutEntry> handed;
  Answerer answerer;
  Run(tree::kCmdCheckInHost, Host("WS01"));  // a host that is not checked out: nothing
  EXPECT_TRUE(answerer.boxes.isEmpty());
  // The administration host checked out: its projects go to the check-in.
  ASSERT_TRUE(extlib::PutSettingString("HKLM", "InstallRoot\\CheckedOutPath", "\\\\SRV1\\cad"));
  testing::WriteFile(site_.NetDir() + "/SRV1.out", "[Host Checkout Information]\r\n");
  Show();
  // A refresh started meanwhile may refill the trees: the refresh is held
  // until the command, and the host's check awaited with no refill under way.
  dialog().StopRefreshTimer();
  ASSERT_TRUE(QTest::qWaitFor([&] {
    return !window_->trees().Filling() && window_->trees().PendingChecks() == 0 &&
           hosts()->GetItemData(Host("SRV1")) == tree::kKindHostOut;
  }, 20000)) << hosts()->GetItemData(Host("SRV1"));
  window_->hostCommands().SetCheckIn([&](extlib::OperationContext&, int mode, const auto& list) {
    EXPECT_EQ(mode, 0);
    handed = list;
    checkout::SetLastCheckinReport({"SRV1", "20261207T223000Z", "\\\\SRV1\\cad\\Net\\r.txt", {"created: n0000099 \"Neu\""}, {}});
    return 1;
  });
  Run(tree::kCmdCheckInHost, Host("SRV1"));
  ASSERT_EQ(handed.size(), static_cast<size_t>(Host("SRV1").model()->rowCount(Host("SRV1"))));
  EXPECT_EQ(handed[0].host, "SRV1");
  // What came back is shown with where the whole report is kept.
  ASSERT_EQ(answerer.boxes.size(), 1);
  EXPECT_TRUE(answerer.boxes[0].contains("created: n0000099 \"Neu\"")) << answerer.boxes[0].toStdString();
  EXPECT_TRUE(answerer.boxes[0].contains("\\\\SRV1\\cad\\Net\\r.txt")) << answerer.boxes[0].toStdString();
}

// A check-in cut short right after it switched this computer back to the
// network (InstallRoot\CheckingInPath set, CheckedOutPath gone, every mark and
// file still there): the button offers "Check In" and finishes it, saying so,
// without the check-out's questions; a check-out asked for meanwhile from the
// menu finishes it too instead of asking four questions first.
TEST_F(HostCommandsQtTest, TheButtonFinishesACheckInCutShort) {
  const std::vector<uint32_t> projects = Ws01Projects();
  Answerer answerer;
  Select("WS01");
  QSignalSpy ended(&window_->hostCommands(), &HostCommands::commandEnded);
  QTest::mouseClick(dialog().CheckOutButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 60000));
  const std::string copy = Setting("InstallRoot\\CheckedOutPath");
  ASSERT_EQ(copy, "\\\\WS01\\cad") << answerer.boxes.join("|").toStdString();
  // The check-in's first steps, then the crash.
  ASSERT_TRUE(extlib::PutSettingString("HKLM", "InstallRoot\\CheckingInPath", copy));
  ASSERT_TRUE(extlib::DeleteSetting("HKLM", "InstallRoot\\CheckedOutPath"));
  window_.reset();
  window_ = std::make_unique<MainWindow>();
  if (dialog().PingCheckBox()->isChecked()) dialog().PingCheckBox()->click();
  Show();
  Select("WS01");
  EXPECT_EQ(dialog().CheckOutButton()->text(), services::UiQText(114, 2));
  EXPECT_TRUE(dialog().CheckOutButton()->isEnabled());
  answerer.boxes.clear();
  answerer.dialogs = 0;
  QSignalSpy again(&window_->hostCommands(), &HostCommands::commandEnded);
  QTest::mouseClick(dialog().CheckOutButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return again.count() == 1; }, 60000)) << "the button did nothing";
  EXPECT_EQ(answerer.dialogs, 0);
  ASSERT_FALSE(answerer.boxes.isEmpty());
  EXPECT_TRUE(answerer.boxes.back().contains("cut short is finished")) << answerer.boxes.join("|").toStdString();
  EXPECT_EQ(Setting("InstallRoot\\CheckingInPath"), "<none>");
  EXPECT_EQ(Setting("InstallRoot\\CheckedOutPath"), "<none>");
  const testing::InstallationState network = site_.State();
  for (uint32_t n : projects) EXPECT_EQ(network.records.at(n).status & 0x04, 0u) << n;
  for (const auto& f : std::filesystem::directory_iterator(site_.NetDir()))
    EXPECT_FALSE(f.path().string().ends_with(".out")) << f.path();
  EXPECT_TRUE(QTest::qWaitFor([&] { return dialog().CheckOutButton()->text() == services::UiQText(114, 1); }, 20000));

  // Cut short at its very last step: only the setting is left. The host's
  // check-out from the menu asks nothing and finishes the check-in.
  ASSERT_TRUE(extlib::PutSettingString("HKLM", "InstallRoot\\CheckingInPath", copy));
  Show();
  answerer.boxes.clear();
  Run(tree::kCmdCheckOutHost, Host("WS01"));
  EXPECT_EQ(answerer.dialogs, 0);
  ASSERT_EQ(answerer.boxes.size(), 1) << answerer.boxes.join("|").toStdString();
  EXPECT_TRUE(answerer.boxes[0].contains("cut short is finished")) << answerer.boxes[0].toStdString();
  EXPECT_EQ(Setting("InstallRoot\\CheckingInPath"), "<none>");
}

// A host without projects is checked out as any other: both questions and
// both dialogs, the installation switched to its copy, a host file without
// projects. Then checked in from the button.
TEST_F(HostCommandsQtTest, AHostWithoutProjectsIsCheckedOutAndInFromTheButton) {
  for (uint32_t n : Ws01Projects()) site_.EditRecord(n, [](extlib::PRJ* r) { extlib::SetPrjHost(r, "SRV2"); });
  Show();
  ASSERT_EQ(Host("WS01").model()->rowCount(Host("WS01")), 0);
  Answerer answerer;
  Select("WS01");
  QSignalSpy ended(&window_->hostCommands(), &HostCommands::commandEnded);
  QTest::mouseClick(dialog().CheckOutButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 60000));
  EXPECT_EQ(answerer.dialogs, 2) << answerer.boxes.join("|").toStdString();
  EXPECT_EQ(Setting("InstallRoot\\CheckedOutPath"), "\\\\WS01\\cad") << answerer.boxes.join("|").toStdString();
  const std::string host_file = testing::ReadFile(site_.NetDir() + "/WS01.out");
  EXPECT_NE(host_file.find("[Projects]\r\n\r\n\r\n[Date]"), std::string::npos) << host_file;
  Show();
  Select("WS01");
  EXPECT_EQ(dialog().CheckOutButton()->text(), services::UiQText(114, 2));
  // The button is given back once the command's end has been handled: a
  // click before that is lost, as a person's would be.
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog().CheckOutButton()->isEnabled(); }, 10000));
  QTest::mouseClick(dialog().CheckOutButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 2; }, 60000));
  EXPECT_EQ(Setting("InstallRoot\\CheckedOutPath"), "<none>") << answerer.boxes.join("|").toStdString();
  EXPECT_FALSE(testing::Exists(site_.NetDir() + "/WS01.out"));
}

}  // namespace
}  // namespace dovrane::tree

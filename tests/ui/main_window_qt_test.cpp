#include "ui/main_window_qt.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QPushButton>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>
#include <atomic>
#include <map>
#include <thread>

#include "platform/text_codec.h"
#include "extlib/records/prj_record.h"
#include "extlib/projects/project_paths.h"
#include "platform/env.h"
#include "support/temp_dir.h"
#include "support/installation_state.h"
#include "support/sample_site.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/item_commands.h"
#include "ui/dovrane_tab_ctrl.h"
#include "ui/bm_button_ctrl.h"
#include "ui/search_dlg.h"
#include "tree/tree_commands_qt.h"
#include "tree/project_tree_model_qt.h"
#include "tree/project_copy.h"
#include "tree/project_trees_qt.h"
#include "tree/tree_transfer_qt.h"

namespace dovrane::ui {
namespace {

// The window on a whole sample installation while the command-line program
// changes it from outside.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { site_.Activate(); }

  // Whether the model shows a project of this name below host.
  bool Shows(MainWindow& window, const std::string& host, const std::string& name) {
    tree::ProjectTreeModel* model = window.trees().model();
    const QModelIndex h = model->HostIndex(host);
    for (int row = 0; h.isValid() && row < model->rowCount(h); ++row) {
      if (model->index(row, 0, h).data().toString().trimmed() == QString::fromStdString(name)) return true;
    }
    return false;
  }

  // Shows the window and waits (bounded) for its first fill and the check after it.
  void ShowFilled(MainWindow& window) {
    CDovraneDlg& dialog = window.dialog();
    QSignalSpy filled(&dialog, &CDovraneDlg::TreesFilled);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.RefreshCheckRunning(); }, 10000));
  }

  testing::SampleSite site_{6, 2};
};

TEST_F(MainWindowTest, TheRefreshCheckShowsWhatTheCommandLineChanged) {
  MainWindow window;
  CDovraneDlg& dialog = window.dialog();
  QSignalSpy filled(&dialog, &CDovraneDlg::TreesFilled);
  ASSERT_NO_FATAL_FAILURE(ShowFilled(window));
  ASSERT_FALSE(Shows(window, "SRV2", "Outside made"));

  // Each change by another program is seen by the next check, which refills.
  struct Step {
    std::vector<std::string> args;
    const char* host;
    bool shown;
  };
  for (const Step& step : {Step{{"Outside made", "-create", "SRV2"}, "SRV2", true},
                           Step{{"Outside made", "-move_y", "SRV1"}, "SRV1", true},
                           Step{{"Outside made", "-erase_y"}, "SRV1", false}}) {
    ASSERT_EQ(site_.Run(step.args).status, 0) << step.args[1];
    const int before = filled.count();
    dialog.RefreshCheck(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Shows(window, step.host, "Outside made") == step.shown; }, 10000))
        << step.args[1] << " fills " << filled.count() - before;
    if (step.args[1] == "-move_y") {
      EXPECT_FALSE(Shows(window, "SRV2", "Outside made"));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.RefreshCheckRunning(); }, 10000));
  }
}


// A project locked or released by another workstation changes only its lock
// file, no time stamp of the administration: the check still sees it in the
// project tree.
TEST_F(MainWindowTest, TheRefreshCheckSeesAProjectLockedAndReleasedFromOutside) {
  // Every project's folder, looked up before the window's workers run (the
  // site's look-ups set the process-wide paths).
  std::map<std::string, std::string> folders;
  for (uint32_t number = 1; number <= 6; ++number) {
    extlib::PRJ record;
    if (site_.Record(number, &record)) folders[site_.Name(number)] = site_.ProjectDir(record.host, number);
  }
  MainWindow window;
  CDovraneDlg& dialog = window.dialog();
  ASSERT_NO_FATAL_FAILURE(ShowFilled(window));
  tree::CDovraneTreeCtrl* projects = dialog.TabCtrl()->ProjectTree();
  const QModelIndex first = projects->GetRootItem();
  ASSERT_TRUE(first.isValid());
  const std::string name = extlib::TrimmedName(projects->GetItemText(first).c_str());
  ASSERT_EQ(folders.count(name), 1u) << name;
  const std::string lock_file = folders[name] + "/" + extlib::kLockInfoFile;
  auto kind = [&] { return projects->GetItemData(projects->GetRootItem()); };
  ASSERT_EQ(kind(), tree::kKindProject);

  platform::Env* env = platform::CurrentEnv();
  const int fd = env->Open(lock_file, O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(env->Lock(fd, 0, 0, platform::LockMode::kExclusive, 0), 0);
  dialog.RefreshCheck(0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return kind() == tree::kKindProjectInUse; }, 10000)) << kind();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.RefreshCheckRunning(); }, 10000));

  env->Close(fd);
  dialog.RefreshCheck(0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return kind() == tree::kKindProject; }, 10000)) << kind();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.RefreshCheckRunning(); }, 10000));
}


// The search button of the assembled window walks the host tree: it stops
// at each project whose name holds the text with the box shown and the
// button disabled, Continue goes on, and the end gives the button back.
TEST_F(MainWindowTest, TheSearchButtonWalksTheHostTreeAndStopsAtEachMatch) {
  MainWindow window;
  CDovraneDlg& dialog = window.dialog();
  QSignalSpy filled(&dialog, &CDovraneDlg::TreesFilled);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 10000));
  CDovraneTabCtrl* tab = dialog.TabCtrl();
  QAbstractButton* button = tab->Button(CDovraneTabCtrl::kSearchButton);
  ASSERT_NE(button, nullptr);
  const std::string wanted = site_.Name(2);
  tab->SearchEdit()->setText(QString::fromStdString(wanted));
  QTest::mouseClick(button, Qt::LeftButton);
  ASSERT_NE(window.search(), nullptr) << "the search button did nothing";
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.search() && window.search()->Box()->isVisible(); }, 5000));
  EXPECT_FALSE(button->isEnabled());
  tree::CDovraneTreeCtrl* hosts = tab->HostTree();
  EXPECT_EQ(platform::Cp1252ToUtf8(extlib::TrimmedName(hosts->GetItemText(hosts->GetSelectedItem()).c_str())), wanted);
  // Continue until the walk has passed the last match.
  for (int i = 0; i < 10 && window.search(); ++i) QTest::mouseClick(window.search()->Box()->ContinueButton(), Qt::LeftButton);
  EXPECT_EQ(window.search(), nullptr);
  EXPECT_TRUE(button->isEnabled());
  // An empty text ends at once, the button given back.
  tab->SearchEdit()->clear();
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(window.search(), nullptr);
  EXPECT_TRUE(button->isEnabled());
}

// The window's own writing commands (new project, rename in place, copy onto
// another host) and the command-line program (create, move, erase) on one
// installation at the same time: every project of both is registered once
// under exactly one name, and the update afterwards has nothing to repair.
TEST_F(MainWindowTest, TheWindowsCommandsBesideTheCommandLineLoseNothing) {
  MainWindow window;
  window.trees().SetChecks([](const std::string&, int) { return 0; }, 2000);
  QObject::connect(&window.messenger(), &services::GuiMessenger::boxShown, [](QMessageBox* box) {
    QAbstractButton* yes = box->button(QMessageBox::Yes);
    QAbstractButton* button = yes ? yes : box->button(QMessageBox::Ok);
    QTimer::singleShot(0, box, [button] { button->click(); });
  });
  CDovraneDlg& dialog = window.dialog();
  QSignalSpy checked(&window.trees(), &tree::ProjectTrees::hostChecked);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return checked.count() >= 2; }, 10000));

  // The command line goes on until the window's commands are through.
  constexpr int kOutside = 6, kInside = 3;
  std::atomic<bool> done{false}, inside_done{false};
  std::vector<std::string> failed;
  int rounds = 0;
  std::thread outside([&] {
    for (int i = 0; i < kOutside || !inside_done; ++i, rounds = i) {
      const std::string name = "Outside " + std::to_string(i);
      std::vector<std::vector<std::string>> steps = {{name, "-create", "SRV2"}, {name, "-move_y", "SRV1"}};
      if (i % 2 == 1) steps.push_back({name, "-erase_y"});
      for (const auto& step : steps) {
        if (site_.Run(step).status != 0) failed.push_back(name + " " + step[1]);
      }
    }
    done = true;
  });
  tree::CDovraneTreeCtrl* hosts = dialog.TabCtrl()->HostTree();
  for (int i = 0; i < kInside; ++i) {
    const std::string name = "Inside " + std::to_string(i);
    hosts->SelectItem(window.trees().model()->HostIndex("SRV1"));
    window.commands().RunCommand(hosts, tree::kCmdNewProject);
    // The new project's name editor opens once it is registered; Enter renames it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return hosts->EditingLabel(); }, 30000)) << i;
    hosts->LabelEditor()->setText(QString::fromStdString(name));
    QTest::keyClick(hosts->LabelEditor(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Shows(window, "SRV1", name) && !window.commands().Busy(); }, 30000))
        << name;
    QModelIndex made;
    const QModelIndex srv1 = window.trees().model()->HostIndex("SRV1");
    for (int row = 0; row < window.trees().model()->rowCount(srv1); ++row) {
      const QModelIndex item = window.trees().model()->index(row, 0, srv1);
      if (item.data().toString().trimmed() == QString::fromStdString(name)) made = item;
    }
    ASSERT_TRUE(window.transfer().MarkForCopy(made)) << name;
    QSignalSpy finished(&window.transfer(), &tree::TreeTransfer::finished);
    ASSERT_TRUE(window.transfer().PasteOnto(window.trees().model()->HostIndex("SRV2"))) << name;
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 60000)) << name;
    EXPECT_EQ(finished.front().front().toInt(), 0) << name;
  }
  inside_done = true;
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 120000));
  outside.join();
  EXPECT_EQ(failed, std::vector<std::string>{});

  const std::string admin = testing::ReadFile(site_.NetDir() + "/project.dat");
  // Records whose name field (the line's first 50 characters) is name.
  const auto count = [&admin](const std::string& name) {
    const std::string field = name + std::string(50 - name.size(), ' ');
    size_t n = 0;
    for (size_t line = 0; line < admin.size(); line = admin.find('\n', line) + 1) {
      if (admin.compare(line, field.size(), field) == 0) ++n;
      if (admin.find('\n', line) == std::string::npos) break;
    }
    return n;
  };
  for (int i = 0; i < rounds; ++i) {
    EXPECT_EQ(count("Outside " + std::to_string(i)), i % 2 == 1 ? 0u : 1u) << i;
  }
  for (int i = 0; i < kInside; ++i) {
    EXPECT_EQ(count("Inside " + std::to_string(i)), 1u) << i;
    EXPECT_EQ(count(tree::CopyName("Inside " + std::to_string(i))), 1u) << i;
  }
  EXPECT_EQ(count("New project"), 0u);
  EXPECT_EQ(testing::ConsistencyProblems(site_.State()), "");
  ASSERT_EQ(site_.Run({"-update"}).status, 0);
  EXPECT_EQ(testing::ReadFile(site_.NetDir() + "/project.dat"), admin);
}

}  // namespace
}  // namespace dovrane::ui

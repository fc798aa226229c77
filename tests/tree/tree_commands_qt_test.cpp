// The commands of the trees in the window: the menus per item kind, the
// keys, and each command with its questions, refusals and messages, on a
// small installation with projects of every kind.
#include "tree/tree_commands_qt.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "extlib/installation/hosts.h"
#include "tree/dovrane_tree_ctrl.h"
#include "tree/project_trees_qt.h"
#include "tree/tree_fixture.h"
#include "ui/dovrane_tab_ctrl.h"
#include "ui/main_window_qt.h"
#include "tree/properties_dlg.h"

namespace dovrane::tree {
namespace {

using namespace ui;  // the main window that the commands are driven through


class TreeCommandsTest : public ::testing::Test {
 protected:
  // The window on the fixture, filled, every host checked (all answer).
  void Open() {
    // The window's settings (placement, switches) stay in the test's folder.
    settings_.Set({{"DOVRANE_HKCU", fixture_.small.Native("hkcu.toml")},
                   {"DOVRANE_HKLM", fixture_.small.Native("hklm.toml")}});
    window_ = std::make_unique<MainWindow>();
    window_->trees().SetChecks([](const std::string&, int) { return 0; }, 2000);
    commands().SetPing([](const std::string&) { return 0; });
    QSignalSpy checked(&window_->trees(), &ProjectTrees::hostChecked);
    window_->dialog().show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return checked.count() >= 3; }, 10000));
    QObject::connect(&window_->messenger(), &services::GuiMessenger::boxShown, &window_->dialog(), [this](QMessageBox* box) {
      boxes_.push_back({box->text(), box->windowTitle(), box->icon()});
      QTimer::singleShot(0, box, [this, box] {
        QAbstractButton* button = box->button(answer_);
        if (!button) button = box->button(QMessageBox::Ok);
        if (button) button->click();
      });
    });
  }
  TreeCommands& commands() { return window_->commands(); }
  CDovraneTreeCtrl* HostTree() { return window_->dialog().TabCtrl()->HostTree(); }
  QModelIndex Project(const std::string& host, const std::string& name) {
    ProjectTreeModel* model = window_->trees().model();
    const QModelIndex h = model->HostIndex(host);
    for (int row = 0; h.isValid() && row < model->rowCount(h); ++row) {
      const QModelIndex item = model->index(row, 0, h);
      if (item.data().toString().trimmed() == QString::fromStdString(name)) return item;
    }
    return {};
  }
  // Selects the item in the host tree and runs the command on it.
  void Run(const QModelIndex& item, uint32_t id) {
    HostTree()->SelectItem(item);
    commands().RunCommand(HostTree(), id);
  }
  bool Idle() { return !commands().Busy(); }
  static std::vector<uint32_t> Ids(const std::vector<MenuEntry>& entries) {
    std::vector<uint32_t> ids;
    for (const MenuEntry& e : entries) ids.push_back(e.id);
    return ids;
  }

  struct Box {
    QString text, caption;
    QMessageBox::Icon icon;
  };
  TreeFixture fixture_;
  testing::ScopedEnvironment settings_;
  std::unique_ptr<MainWindow> window_;
  std::vector<Box> boxes_;
  QMessageBox::StandardButton answer_ = QMessageBox::Yes;
};

TEST_F(TreeCommandsTest, MenusFollowTheItemKindAndWhatTheWindowKnows) {
  fixture_.HoldLockFile();
  Open();
  const uint32_t kPasteOff = 4;
  struct Case {
    QModelIndex item;
    bool ctrl;
    std::vector<uint32_t> ids;
  };
  const Case cases[] = {
      {Project("SRV2", "Alpha"), false, {2, 3, 5, 6, 10, 0, 1}},
      {Project("SRV1", "Delta"), false, {1}},
      {Project("SRV1", "Delta"), true, {253, 0, 1}},
      {Project("SRV2", "Beta one"), false, {11, 0, 1}},
      // This computer is SRV2: only its host offers the check-out.
      {window_->trees().model()->HostIndex("SRV2"), false, {kPasteOff, 255, 0, 7, 0xFFFF0816u, 0, 1}},
      // The administration host always lists it, enabled only when named otherwise.
      {window_->trees().model()->HostIndex("SRV1"), false, {kPasteOff, 255, 0, 7, 0, 1}},
  };
  for (const Case& c : cases) {
    HostTree()->SelectItem(c.item);
    const std::vector<MenuEntry> entries = commands().MenuEntries(HostTree(), c.ctrl);
    EXPECT_EQ(Ids(entries), c.ids) << c.item.data().toString().toStdString();
    if (c.ids[0] == kPasteOff) {
      EXPECT_FALSE(entries[0].enabled);  // nothing marked
    }
  }
}

TEST_F(TreeCommandsTest, ContextMenuSelectsTheClickedItemAndHandsOnTheWholeIdentifier) {
  Open();
  std::vector<std::pair<uint32_t, QModelIndex>> handed;
  commands().SetTransferHandler([&](uint32_t id, QModelIndex item) { handed.push_back({id, item}); });
  commands().SetHostCommandHandler([&](uint32_t id, QModelIndex item) { handed.push_back({id, item}); });
  // Picks the menu entry of this identifier once the menu is open.
  auto choose = [](uint32_t id) {
    QTimer::singleShot(0, [id] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      for (QAction* action : menu->actions())
        if (!action->isSeparator() && action->data().value<uint32_t>() == id) menu->setActiveAction(action);
      QTest::keyClick(menu, Qt::Key_Return);
    });
  };
  const QModelIndex alpha = Project("SRV2", "Alpha");
  HostTree()->ExpandItem(alpha.parent(), true);
  HostTree()->scrollTo(alpha);
  choose(kCmdMarkMove);
  commands().ContextMenu(HostTree(), HostTree()->visualRect(alpha).center(), false);
  // The empty area below the last row: the host tree's own menu.
  choose(kCmdAddDataServer);
  commands().ContextMenu(HostTree(), QPoint(5, HostTree()->viewport()->height() - 2), false);
  ASSERT_EQ(handed.size(), 2u);
  EXPECT_EQ(handed[0].first, kCmdMarkMove);
  EXPECT_EQ(handed[0].second, alpha);
  EXPECT_EQ(handed[1].first, kCmdAddDataServer);  // not 2069
  EXPECT_FALSE(handed[1].second.isValid());
}

// The command is for the row the menu was opened on, though the current row
// changes while the menu is open (the focus coming back to a tree sets one).
TEST_F(TreeCommandsTest, AMenuCommandActsOnTheRowItWasOpenedFor) {
  Open();
  std::vector<QModelIndex> handed;
  commands().SetTransferHandler([&](uint32_t, QModelIndex item) { handed.push_back(item); });
  const QModelIndex alpha = Project("SRV2", "Alpha"), gamma = Project("SRV1", "Gamma");
  HostTree()->ExpandItem(alpha.parent(), true);
  HostTree()->scrollTo(alpha);
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    HostTree()->selectionModel()->setCurrentIndex(gamma, QItemSelectionModel::NoUpdate);
    for (QAction* action : menu->actions())
      if (!action->isSeparator() && action->data().value<uint32_t>() == kCmdMarkCopy) menu->setActiveAction(action);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  commands().ContextMenu(HostTree(), HostTree()->visualRect(alpha).center(), false);
  ASSERT_EQ(handed.size(), 1u);
  EXPECT_EQ(handed[0], alpha);
}

// A screen reader (or a robot through AT-SPI) finds the open context menu
// among the application's windows and presses an item through its action,
// which triggers it without closing the menu.
TEST_F(TreeCommandsTest, ContextMenuIsReachedAndPressedThroughAccessibility) {
  Open();
  std::vector<uint32_t> handed;
  commands().SetTransferHandler([&](uint32_t id, QModelIndex) { handed.push_back(id); });
  const QModelIndex alpha = Project("SRV2", "Alpha");
  HostTree()->ExpandItem(alpha.parent(), true);
  HostTree()->scrollTo(alpha);
  auto windows_of_application = [] {
    std::vector<QObject*> objects;
    QAccessibleInterface* app = QAccessible::queryAccessibleInterface(qApp);
    for (int i = 0; i < app->childCount(); ++i) {
      QAccessibleInterface* child = app->child(i);
      EXPECT_EQ(app->indexOfChild(child), i);
      objects.push_back(child ? child->object() : nullptr);
    }
    return objects;
  };
  bool listed = false;
  QString menu_name;
  QAccessible::Role menu_role = QAccessible::NoRole;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    // A menu the command ignores would stay open: the test ends it instead of hanging.
    QTimer::singleShot(5000, menu, &QMenu::close);
    const std::vector<QObject*> objects = windows_of_application();
    listed = std::find(objects.begin(), objects.end(), menu) != objects.end();
    QAccessibleInterface* acc = QAccessible::queryAccessibleInterface(menu);
    menu_name = acc->text(QAccessible::Name);
    menu_role = acc->role();
    for (int i = 0; i < acc->childCount(); ++i) {
      auto* action = qobject_cast<QAction*>(acc->child(i)->object());
      if (action && !action->isSeparator() && action->data().value<uint32_t>() == kCmdMarkMove)
        acc->child(i)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }
  });
  commands().ContextMenu(HostTree(), HostTree()->visualRect(alpha).center(), false);
  EXPECT_TRUE(listed) << "the open menu is no window of the application";
  EXPECT_EQ(menu_name.toStdString(), "Host tree menu");
  EXPECT_EQ(menu_role, QAccessible::PopupMenu);
  EXPECT_EQ(handed, std::vector<uint32_t>{kCmdMarkMove});
  // Closed, it is no window any more.
  for (QObject* object : windows_of_application()) EXPECT_EQ(qobject_cast<QMenu*>(object), nullptr);
}

TEST_F(TreeCommandsTest, PropertiesMeasureOnAWorkerAndGreyConflictingCommands) {
  fixture_.small.dir.Write("SRV2/cad/Prj/n0000001.prj/data.bin", std::string(3000, 'x'));
  Open();
  std::atomic<bool> release{false};
  commands().SetPing([&](const std::string&) {
    while (!release) std::this_thread::yield();  // a host that answers late
    return 0;
  });
  QString info;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* dlg = qobject_cast<CDlgProperties*>(QApplication::activeModalWidget())) {
      info = dlg->Text(1035);
      dlg->accept();
    }
  });
  closer.start(20);
  Run(Project("SRV2", "Alpha"), kCmdProperties);
  // While it measures: the trees answer, writing commands and a second size wait.
  const std::vector<MenuEntry> entries = commands().MenuEntries(HostTree(), false);
  for (const MenuEntry& e : entries) {
    if (e.id != 0) {
      EXPECT_EQ(e.enabled, e.id == kCmdMarkMove || e.id == kCmdMarkCopy) << e.id;
    }
  }
  release = true;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !info.isEmpty(); }, 10000));
  EXPECT_TRUE(info.contains(QStringLiteral(" 2  ("))) << info.toStdString();  // version.txt and data.bin
}

TEST_F(TreeCommandsTest, PropertiesOfAnUnansweringServerShowTheNetworkError) {
  Open();
  // The ping is asked only for a folder the file system does not reach.
  const std::string folder = fixture_.small.Native("SRV2/cad/Prj/n0000001.prj");
  ASSERT_EQ(std::rename(folder.c_str(), (folder + ".away").c_str()), 0);
  commands().SetPing([](const std::string&) { return 11001; });
  Run(Project("SRV2", "Alpha"), kCmdProperties);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Idle() && !boxes_.empty(); }, 10000));
  EXPECT_EQ(boxes_[0].text.toStdString(), extlib::_WSAGetErrorString(11001));
  EXPECT_EQ(boxes_[0].icon, QMessageBox::Critical);
}

TEST_F(TreeCommandsTest, DeleteAsksAndErasesOnlyOnYes) {
  testing::ScopedEnvironment owner;
  owner.Set({{"DOVRANE_USERNAME", "admin"}});  // the owner of Alpha may erase it
  Open();
  for (auto [answer, erased] : {std::pair{QMessageBox::No, false}, std::pair{QMessageBox::Yes, true}}) {
    answer_ = answer;
    // Chosen in the project tree, as a person does: the status bar names it.
    CDovraneTreeCtrl* projects = window_->dialog().TabCtrl()->ProjectTree();
    projects->SelectItem(Project("SRV2", "Alpha"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->dialog().StatusTexts().value(0) == "Alpha"; }, 5000));
    commands().RunCommand(projects, kCmdDelete);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Idle() && Project("SRV2", "Alpha").isValid() != erased; }, 10000))
        << boxes_.back().text.toStdString();
    EXPECT_EQ(fixture_.small.Admin().find("Alpha") == std::string::npos, erased);
    EXPECT_EQ(window_->dialog().outside_change.load(), 1);
    // The status bar names no project that is gone.
    if (erased) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return window_->dialog().StatusTexts().value(0) != "Alpha"; }, 5000))
          << window_->dialog().StatusTexts().join("|").toStdString();
    }
  }
  EXPECT_TRUE(boxes_[0].text.contains(QStringLiteral("Alpha")));
  // One audit line, for the erase that ran.
  const std::string log = fixture_.small.dir.Read("SRV1/cad/Net/dovrane.log");
  EXPECT_NE(log.find("\tdelete Alpha\t0\t"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST_F(TreeCommandsTest, RenameInPlaceCommitsWithEnterAndKeepsTheNameWithEscape) {
  Open();
  struct Case {
    Qt::Key end;
    const char* shown;
  };
  for (const Case c : {Case{Qt::Key_Escape, "Alpha"}, Case{Qt::Key_Return, "Renamed"}}) {
    HostTree()->setFocus();
    HostTree()->SelectItem(Project("SRV2", "Alpha"));
    QTest::keyClick(HostTree(), Qt::Key_F2);
    ASSERT_TRUE(HostTree()->EditingLabel());
    EXPECT_EQ(HostTree()->LabelEditor()->text(), QStringLiteral("Alpha"));
    QTest::keyClicks(HostTree()->LabelEditor(), "Renamed");
    QTest::keyClick(HostTree()->LabelEditor(), c.end);
    // The editor commits through a queued call; the trees then show the result.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Idle() && Project("SRV2", c.shown).isValid(); }, 10000)) << c.shown;
    EXPECT_FALSE(HostTree()->EditingLabel());
    EXPECT_NE(fixture_.small.Admin().find(c.shown), std::string::npos);
  }
  EXPECT_EQ(window_->dialog().outside_change.load(), 1);
}

TEST_F(TreeCommandsTest, RenameRefusalIsShownAndTheOldNameStays) {
  Open();
  HostTree()->SelectItem(Project("SRV2", "Alpha"));
  commands().RunCommand(HostTree(), kCmdRename);
  ASSERT_TRUE(HostTree()->EditingLabel());
  HostTree()->LabelEditor()->setText(QStringLiteral("Gamma"));  // taken
  QTest::keyClick(HostTree()->LabelEditor(), Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Idle() && !boxes_.empty(); }, 10000));
  EXPECT_NE(fixture_.small.Admin().find("Alpha"), std::string::npos);
  EXPECT_TRUE(Project("SRV2", "Alpha").isValid());
}

TEST_F(TreeCommandsTest, NewProjectTakesTheFirstFreeNameAndOpensItsEditor) {
  Open();
  Run(window_->trees().model()->HostIndex("SRV1"), kCmdNewProject);
  ASSERT_TRUE(QTest::qWaitFor([&] { return HostTree()->EditingLabel(); }, 10000));
  EXPECT_EQ(HostTree()->LabelEditor()->text(), QStringLiteral("New project"));
  EXPECT_EQ(HostTree()->GetSelectedItem(), Project("SRV1", "New project"));
  QTest::keyClick(HostTree()->LabelEditor(), Qt::Key_Escape);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !HostTree()->EditingLabel(); }, 5000));
  EXPECT_NE(fixture_.small.Admin().find("New project"), std::string::npos);
  EXPECT_NE(fixture_.small.dir.Read("SRV1/cad/Net/dovrane.log").find("\tcreate \"New project\" SRV1\t0\t"),
            std::string::npos);
}

TEST_F(TreeCommandsTest, AHeldLockFileIsReportedAndKept) {
  fixture_.HoldLockFile();
  Open();
  Run(Project("SRV1", "Delta"), kCmdDeleteLockFile);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Idle() && !boxes_.empty(); }, 10000));
  EXPECT_EQ(boxes_[0].caption, QStringLiteral("Delta"));
  EXPECT_EQ(boxes_[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(fixture_.small.dir.Exists("SRV1/cad/Prj/n0000004.prj/project.lck"));
}

TEST_F(TreeCommandsTest, CheckOutMarkOfAHostIsRemovedSilently) {
  fixture_.small.dir.Write("SRV1/cad/Net/SRV3.out", "out");
  Open();
  const QModelIndex srv3 = window_->trees().model()->HostIndex("SRV3");
  ASSERT_EQ(HostTree()->GetItemData(srv3), kKindHostOutFile);
  Run(srv3, kCmdDeleteHostCheckoutFile);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Idle(); }, 10000));
  EXPECT_FALSE(fixture_.small.dir.Exists("SRV1/cad/Net/SRV3.out"));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(TreeCommandsTest, KeysDeleteAndF2ActOnlyOnAFreeProject) {
  fixture_.HoldLockFile();
  Open();
  answer_ = QMessageBox::No;
  HostTree()->setFocus();
  HostTree()->SelectItem(Project("SRV1", "Delta"));  // in use
  QTest::keyClick(HostTree(), Qt::Key_Delete);
  QTest::keyClick(HostTree(), Qt::Key_F2);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(HostTree()->EditingLabel());
  HostTree()->SelectItem(Project("SRV2", "Alpha"));
  QTest::keyClick(HostTree(), Qt::Key_Delete);
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxes_.size() == 1; }, 5000));
  EXPECT_TRUE(boxes_[0].text.contains(QStringLiteral("Alpha")));
}

// A project of a checked-out host keeps its name: F2 only beeps and the
// rename command opens no editor, without a message either way.
TEST_F(TreeCommandsTest, NoRenameOnACheckedOutHost) {
  fixture_.small.dir.Write("SRV1/cad/Net/SRV2.out", "SRV2\n");
  Open();
  const QModelIndex alpha = Project("SRV2", "Alpha");
  ASSERT_EQ(HostTree()->GetItemData(alpha), kKindProject);
  HostTree()->setFocus();
  HostTree()->SelectItem(alpha);
  QTest::keyClick(HostTree(), Qt::Key_F2);
  EXPECT_FALSE(HostTree()->EditingLabel());
  commands().RunCommand(HostTree(), kCmdRename);
  EXPECT_FALSE(HostTree()->EditingLabel());
  QCoreApplication::processEvents();  // anything queued shows now
  EXPECT_FALSE(HostTree()->EditingLabel());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_TRUE(Project("SRV2", "Alpha").isValid());
}

}  // namespace
}  // namespace dovrane::tree

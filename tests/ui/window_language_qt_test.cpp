// The window speaks one language: with German texts no English text shows
// (Qt's own buttons included), with English texts no German one. Walks the
// language files, the UI text table and the assembled window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <map>
#include <set>

#include "admin/restore_update.h"
#include "app/projects/project_permission.h"
#include "checkout/checkin_report.h"
#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "network/host_registration.h"
#include "network/network_enumerator.h"
#include "platform/messenger.h"
#include "platform/text_codec.h"
#include "services/gui_messenger_qt.h"
#include "services/qt_text_qt.h"
#include "services/ui_text_table.h"
#include "support/sample_site.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "tree/host_commands_qt.h"
#include "ui/about_dlg.h"
#include "ui/dovrane_dlg.h"
#include "ui/main_window_qt.h"
#include "ui/qt_translations_qt.h"

namespace dovrane::ui {
namespace {

using Key = std::pair<long, int>;

// Texts of a language file as the widgets show them (UTF-8, escapes undone).
std::map<Key, QString> FileTexts(const char* name) {
  QFile file(QStringLiteral(DOVRANE_SOURCE_RES_DIR "/lang/") + QString::fromLatin1(name));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
  std::map<Key, QString> texts;
  static const QRegularExpression line_re(QStringLiteral("^(\\d+)\\.(\\d+) = (.*)$"));
  for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
    const QRegularExpressionMatch m = line_re.match(line);
    if (!m.hasMatch()) continue;
    QString text = m.captured(3);
    text.replace(QStringLiteral("\\n"), QStringLiteral("\n")).replace(QStringLiteral("\\t"), QStringLiteral("\t"));
    texts[{m.captured(1).toLong(), m.captured(2).toInt()}] = text;
  }
  return texts;
}

QString Bare(QString text) { return text.remove(QLatin1Char('&')); }

// Qt's own button texts in English and in its German translation.
const QStringList kQtEnglish = {"&Yes", "&No", "Cancel", "Abort", "Retry", "Ignore", "Close", "Help", "Apply"};
const QStringList kQtGerman = {"&Ja", "&Nein", "Abbrechen", "Wiederholen", "Ignorieren", QString::fromUtf8("Schlie\xC3\x9F" "en"), "Hilfe",
                               "Anwenden"};

class WindowLanguageTest : public ::testing::Test {
 protected:
  WindowLanguageTest() {
    site_.Activate();
    english_ = FileTexts("english.lng");
    german_ = FileTexts("german.lng");
    std::set<QString> in_english, in_german;
    for (const auto& [key, text] : english_) in_english.insert(Bare(text));
    for (const auto& [key, text] : german_) in_german.insert(Bare(text));
    for (const QString& t : in_english)
      if (!in_german.count(t)) english_only_.insert(t);
    for (const QString& t : in_german)
      if (!in_english.count(t)) german_only_.insert(t);
    for (const QString& t : kQtEnglish) english_only_.insert(Bare(t));
    for (const QString& t : kQtGerman) german_only_.insert(Bare(t));
  }
  ~WindowLanguageTest() override {
    UseLanguage("");
  }

  // Chooses the language as an installation does, in the user settings;
  // "" leaves it to the locale.
  void UseLanguage(const std::string& lcid) {
    const std::string file = site_.Environment().at("DOVRANE_HKCU");
    std::string settings = testing::ReadFile(file);
    static const std::string kKey = "InstalledLanguageLCID = ";
    for (size_t at = settings.find(kKey); at != std::string::npos; at = settings.find(kKey)) {
      settings.erase(at, settings.find('\n', at) + 1 - at);
    }
    if (!lcid.empty()) {
      const size_t table = settings.find("[Settings]\n");
      if (table == std::string::npos)
        settings += "\n[Settings]\n" + kKey + lcid + "\n";
      else
        settings.insert(table + 11, kKey + lcid + "\n");
    }
    testing::WriteFile(file, settings);
    extlib::ReloadLanguage();
    services::ResetUiTextCache();
    EXPECT_TRUE(InstallQtTranslations()) << "Qt's translations are not in " << QtTranslationsFolder().toStdString();
  }

  // Every text of the other language found among `texts`, with where it was.
  QStringList Foreign(bool german, const std::vector<std::pair<QString, QString>>& texts) const {
    static const QRegularExpression umlauts(QString::fromUtf8("[\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x84\xC3\x96\xC3\x9C\xC3\x9F]"));
    const std::set<QString>& other = german ? english_only_ : german_only_;
    QStringList found;
    for (const auto& [where, text] : texts) {
      if (text.trimmed().isEmpty()) continue;
      const bool foreign = other.count(Bare(text)) || (!german && umlauts.match(text).hasMatch()) ||
                           text.startsWith(QStringLiteral("<text ")) || text.startsWith(QStringLiteral("So was Dummes"));
      if (foreign) found << where + QStringLiteral(": ") + text;
    }
    return found;
  }

  // What a user reads in a window: titles, captions, menus, tooltips.
  static std::vector<std::pair<QString, QString>> Shown(QWidget* root) {
    std::vector<std::pair<QString, QString>> texts;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
      const QString where = QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
      if (w->isWindow()) texts.emplace_back(where + " title", w->windowTitle());
      texts.emplace_back(where + " tooltip", w->toolTip());
      if (auto* b = qobject_cast<QAbstractButton*>(w)) texts.emplace_back(where, b->text());
      if (auto* l = qobject_cast<QLabel*>(w)) texts.emplace_back(where, l->text());
      if (auto* e = qobject_cast<QLineEdit*>(w)) texts.emplace_back(where + " placeholder", e->placeholderText());
      if (auto* m = qobject_cast<QMenu*>(w)) texts.emplace_back(where + " menu", m->title());
      if (auto* t = qobject_cast<QTabBar*>(w))
        for (int i = 0; i < t->count(); ++i) texts.emplace_back(where + " tab", t->tabText(i));
      if (auto* v = qobject_cast<QTreeView*>(w)) {
        // The items' tooltips name their kinds; the items' own texts are data.
        std::vector<QModelIndex> pending{QModelIndex()};
        while (!pending.empty()) {
          const QModelIndex parent = pending.back();
          pending.pop_back();
          for (int row = 0; v->model() && row < v->model()->rowCount(parent); ++row) {
            const QModelIndex index = v->model()->index(row, 0, parent);
            texts.emplace_back(where + " item " + index.data().toString(), index.data(Qt::ToolTipRole).toString());
            pending.push_back(index);
          }
        }
      }
    }
    for (QAction* a : root->findChildren<QAction*>()) texts.emplace_back("action", a->text());
    return texts;
  }

  // The buttons of every kind of message box the program asks with.
  static std::vector<std::pair<QString, QString>> BoxButtons() {
    std::vector<std::pair<QString, QString>> texts;
    services::GuiMessenger messenger;
    QObject::connect(&messenger, &services::GuiMessenger::boxShown, [&texts](QMessageBox* box) {
      for (QAbstractButton* b : box->buttons()) texts.emplace_back("message box button", b->text());
      QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
    });
    for (unsigned flags : {platform::kMbOk, platform::kMbOkCancel, platform::kMbYesNo, platform::kMbYesNoCancel,
                           platform::kMbRetryCancel, platform::kMbAbortRetryIgnore})
      messenger.MessageBox("?", "", flags);
    EXPECT_GE(texts.size(), 13u);
    return texts;
  }

  testing::SampleSite site_{6, 2};
  std::map<Key, QString> english_, german_;
  std::set<QString> english_only_, german_only_;
};

// Each German text is a translation: a text left as in the English file
// would show English in a German window. Only words both languages share
// may stay.
TEST_F(WindowLanguageTest, TheGermanFileTranslatesEveryText) {
  const std::set<QString> shared = {"OK", "Name:"};
  for (const auto& [key, text] : english_) {
    auto it = german_.find(key);
    ASSERT_NE(it, german_.end()) << key.first << "." << key.second;
    if (!shared.count(text)) {
      EXPECT_NE(it->second, text) << key.first << "." << key.second;
    }
  }
}

// Every record of the UI text table (the captions, menus, tooltips and
// messages of the window) in both languages.
TEST_F(WindowLanguageTest, TheUiTextTableSpeaksTheChosenLanguage) {
  for (const auto& [lcid, german] : {std::pair{"1033", false}, std::pair{"1031", true}}) {
    UseLanguage(lcid);
    std::vector<std::pair<QString, QString>> texts;
    // A copy: the lookups below fill the table's cache.
    const auto table = services::UiTextTable();
    for (const services::UiTextRecord& record : table) {
      // The fallback, the end, and the built-in names that stay the same in every language.
      if (record.text_number <= 0 || record.text) continue;
      const QString text = services::FromCp1252(services::UiText(record.group, static_cast<unsigned>(record.item)));
      texts.emplace_back(QStringLiteral("(%1, %2)").arg(record.group).arg(record.item), text);
    }
    EXPECT_GT(texts.size(), 100u);  // the whole table was walked
    // The reasons the network browser gives.
    for (network::NetError error : {network::NetError::kNoMasterBrowser, network::NetError::kNameUnknown,
                                    network::NetError::kNotReachable, network::NetError::kSmb1Refused,
                                    network::NetError::kAccessDenied, network::NetError::kNotFound,
                                    network::NetError::kFailed})
      texts.emplace_back(QStringLiteral("network error %1").arg(static_cast<int>(error)),
                         services::FromCp1252(network::NetErrorText(error)));
    EXPECT_EQ(Foreign(german, texts).join("\n").toStdString(), "") << lcid;
  }
}

TEST_F(WindowLanguageTest, TheWindowAndItsBoxesSpeakTheChosenLanguage) {
  for (const auto& [lcid, german] : {std::pair{"1031", true}, std::pair{"1033", false}}) {
    UseLanguage(lcid);
    MainWindow window;
    CDovraneDlg& dialog = window.dialog();
    QSignalSpy filled(&dialog, &CDovraneDlg::TreesFilled);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 10000));
    std::vector<std::pair<QString, QString>> texts = Shown(&dialog);
    size_t tooltips = 0;
    for (const auto& [where, text] : texts) tooltips += where.contains(" item ") && !text.isEmpty();
    EXPECT_GT(tooltips, 5u) << "the trees were not filled";
    CAboutDlg about(&dialog);
    for (auto& t : Shown(&about)) texts.push_back(t);
    const auto buttons = BoxButtons();
    texts.insert(texts.end(), buttons.begin(), buttons.end());
    EXPECT_EQ(Foreign(german, texts).join("\n").toStdString(), "") << lcid;

    // Qt's own buttons are translated, not merely absent.
    QStringList button_texts;
    for (const auto& [where, text] : buttons) button_texts << text;
    for (const QString& t : german ? kQtGerman.mid(0, 4) : kQtEnglish.mid(0, 4))
      EXPECT_TRUE(button_texts.contains(t)) << lcid << " " << t.toStdString();
    dialog.OnClose();
  }
}

// Words only one of the two languages has: a sentence of the other
// language shows through them even where no language file knows it.
QStringList WordsOfOtherLanguage(bool german, const QString& text) {
  static const QStringList kEnglish = {"the", "is", "are", "of", "not", "and", "be", "been", "must", "can",
                                       "cannot", "to", "on", "by", "has", "with", "which", "it", "from", "first"};
  static const QStringList kGerman = {"der", "die", "das", "ist", "nicht", "und", "wird", "von", "auf", "muss",
                                      "zuerst", "kann", "eingetragen", "gelöscht"};
  QStringList found;
  static const QRegularExpression word(QStringLiteral("[\\w']+"));
  for (auto it = word.globalMatch(text); it.hasNext();) {
    const QString w = it.next().captured(0);
    if ((german ? kEnglish : kGerman).contains(w, Qt::CaseInsensitive)) found << w;
  }
  return found;
}

// What the core says while the window runs it: a host registration the
// administration's layout refuses, a repair that finds a rebuild under way,
// a rename refused for a project checked out, and the box with a check-in
// report. None of it may show the other language.
TEST_F(WindowLanguageTest, MessagesOfRegistrationRepairAndCheckInSpeakTheChosenLanguage) {
  // A report with a line of every kind.
  checkout::CheckinReport report;
  report.host = "WS01";
  report.time = "20261207T223000Z";
  const std::string shown = "\"Halle\" n0000003";
  report.entries = {{checkout::kReportCreated, {"WS01", shown}},
                    {checkout::kReportRenamed, {"WS01", "Halle", "Altbau", "n0000004"}},
                    {checkout::kReportChanged, {"WS01", shown}},
                    {checkout::kReportErased, {"WS01", shown}},
                    {checkout::kReportErasedFolderStays, {"WS01", shown}},
                    {checkout::kReportFromFolder, {"WS01", shown}},
                    {checkout::kReportNotRegistered, {shown}},
                    {checkout::kReportNumberTaken, {"n0000013", "Halle", "n0000015"}},
                    {checkout::kReportNumberTakenBy, {"n0000013", "Halle", "Altbau", "SRV1", "n0000015"}},
                    {checkout::kReportNameTwice, {"Halle", "Halle_"}},
                    {checkout::kReportHostSideGone, {"WS01"}}};
  for (const checkout::CheckinReportLine& line : report.entries) report.lines.push_back(checkout::FileReportLine(line));
  const std::string admin = site_.NetDir() + "/project.dat";
  const std::string kept = testing::ReadFile(admin);
  for (const auto& [lcid, german] : {std::pair{"1031", true}, std::pair{"1033", false}}) {
    UseLanguage(lcid);
    services::GuiMessenger messenger;
    platform::Messenger* before = platform::SetCurrentMessenger(&messenger);
    QStringList boxes;
    QObject::connect(&messenger, &services::GuiMessenger::boxShown, [&boxes](QMessageBox* box) {
      boxes << box->text();
      QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
    });
    // An administration in the older layout: removing a host is refused.
    testing::WriteFile(admin, " 2" + kept.substr(2));
    EXPECT_EQ(network::RemoveHostFromAdministration(extlib::DefaultContext(), "SRV2"), 0);
    testing::WriteFile(admin, kept);
    EXPECT_EQ(admin::ReportRebuildPending(extlib::DefaultContext()), extlib::kPrjFailed);
    // Renaming a project that went out with its host is refused.
    extlib::PRJ out;
    extlib::SetPrjName(&out, "Halle");
    extlib::SetPrjHost(&out, "SRV1");
    out.status = extlib::StatusCharacter(extlib::kStatusHostOut);
    EXPECT_NE(app::CheckNotCheckedOut(extlib::DefaultContext(), out, "rename"), 0);
    messenger.MessageBox(tree::CheckinReportBoxText(report, true), "", platform::kMbOk);
    platform::SetCurrentMessenger(before);
    ASSERT_EQ(boxes.size(), 4) << boxes.join("\n").toStdString();

    std::vector<std::pair<QString, QString>> texts;
    for (const QString& box : boxes)
      for (const QString& line : box.split(QLatin1Char('\n'))) {
        texts.emplace_back(QStringLiteral("message line"), line);
        const QStringList words = WordsOfOtherLanguage(german, line);
        EXPECT_TRUE(words.isEmpty()) << lcid << ": " << line.toStdString() << " (" << words.join(", ").toStdString()
                                     << ")";
      }
    EXPECT_EQ(Foreign(german, texts).join("\n").toStdString(), "") << lcid;
    // Every line of the report is there, each in the chosen language.
    const QString report_box = boxes.last();
    for (const checkout::CheckinReportLine& line : report.entries)
      EXPECT_TRUE(report_box.contains(services::FromCp1252(checkout::ShownReportLine(line)))) << line.kind;
    EXPECT_EQ(report_box.contains(QStringLiteral("renamed on WS01")), !german);
  }
  // The kept file stays in English whatever the window speaks.
  EXPECT_EQ(report.lines[1], "renamed on WS01: \"Halle\" to \"Altbau\" n0000004");
  EXPECT_EQ(report.lines[8],
            "conflict: number n0000013 of \"Halle\" was taken meanwhile by \"Altbau\" on SRV1; registered as n0000015");
}

// Without a language setting the user's locale decides; English where it
// names no German.
TEST_F(WindowLanguageTest, WithoutASettingTheLocaleChooses) {
  struct Case {
    std::map<std::string, std::string> env;
    bool german;
  };
  const Case cases[] = {
      {{{"LANG", "de_DE.UTF-8"}}, true},
      {{{"LANG", "de_AT"}}, true},
      {{{"LANG", "C.UTF-8"}, {"LC_MESSAGES", "de_CH.UTF-8"}}, true},
      {{{"LANG", "de_DE.UTF-8"}, {"LC_ALL", "en_GB.UTF-8"}}, false},
      {{{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "de:en"}}, true},
      {{{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "en_US:de"}}, false},
      {{{"LANG", "C"}, {"LANGUAGE", "de"}}, false},  // the C locale ignores LANGUAGE
      {{{"LANG", "dev"}}, false},
      {{{"LANG", "fr_FR.UTF-8"}}, false},
      {{}, false},
  };
  for (const Case& c : cases) {
    testing::ScopedEnvironment env;
    std::map<std::string, std::string> vars = {{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", ""}, {"LANGUAGE", ""}};
    for (const auto& [k, v] : c.env) vars[k] = v;
    env.Set(vars);
    UseLanguage("");
    std::string shown;
    for (const auto& [k, v] : c.env) shown += k + "=" + v + " ";
    EXPECT_EQ(extlib::ll_get_language() == 0, c.german) << shown;
    EXPECT_EQ(extlib::InstalledLanguageId(), c.german ? extlib::kLanguageGerman : extlib::kLanguageEnglish) << shown;
    CDovraneDlg dialog;
    QStringList menus;
    for (QAction* a : dialog.findChildren<QAction*>()) menus << a->text();
    EXPECT_EQ(menus.contains(german_.at({2509000, 2})), c.german) << shown;
    EXPECT_EQ(menus.contains(english_.at({2509000, 2})), !c.german) << shown;
  }
  // A setting wins over the locale.
  testing::ScopedEnvironment env;
  env.Set({{"LANG", "de_DE.UTF-8"}});
  UseLanguage("1033");
  EXPECT_NE(extlib::ll_get_language(), 0);
}

}  // namespace
}  // namespace dovrane::ui

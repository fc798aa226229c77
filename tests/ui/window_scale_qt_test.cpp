// The window at any device pixel ratio: every caption fits its control and
// the images are drawn from pictures of the screen's resolution, not blown up.
// CTest runs this once as it comes and once with QT_SCALE_FACTOR=2.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QStyle>
#include <QTest>
#include <cmath>
#include <map>
#include <cstdlib>

#include "extlib/installation/language.h"
#include "services/ui_text_table.h"
#include "support/sample_site.h"
#include "support/temp_dir.h"
#include "tree/app_icons_qt.h"
#include "ui/bm_button_ctrl.h"
#include "ui/dovrane_dlg.h"
#include "ui/main_window_qt.h"

namespace dovrane::ui {
namespace {

class WindowScaleTest : public ::testing::Test {
 protected:
  WindowScaleTest() { site_.Activate(); }
  ~WindowScaleTest() override {
    extlib::ReloadLanguage();
    services::ResetUiTextCache();
  }
  void UseLanguage(const std::string& lcid) {
    const std::string file = site_.Environment().at("DOVRANE_HKCU");
    std::string settings = testing::ReadFile(file);
    static const std::string kKey = "InstalledLanguageLCID = ";
    // One value: a key twice makes the whole file unreadable.
    for (size_t at = settings.find(kKey); at != std::string::npos; at = settings.find(kKey))
      settings.erase(at, settings.find('\n', at) + 1 - at);
    const size_t table = settings.find("[Settings]\n");
    if (table == std::string::npos)
      settings += "\n[Settings]\n" + kKey + lcid + "\n";
    else
      settings.insert(table + 11, kKey + lcid + "\n");
    testing::WriteFile(file, settings);
    extlib::ReloadLanguage();
    services::ResetUiTextCache();
  }
  // The ratio the run asked for: QT_SCALE_FACTOR, else 1.
  static qreal Wanted() {
    const char* factor = std::getenv("QT_SCALE_FACTOR");
    return factor && *factor ? std::atof(factor) : 1.0;
  }

  testing::SampleSite site_{6, 2};
};

// Texts that do not fit: a label's line wider than the label, a button's or
// check box's caption with its box and margins wider than the control.
QStringList Clipped(QWidget* root) {
  QStringList clipped;
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(root)) continue;
    const QString where = QString::fromLatin1(w->metaObject()->className()) + " \"";
    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->text().isEmpty() || label->wordWrap()) continue;
      // A status part is as wide as its text; its frame is drawn inside.
      for (const QString& line : label->text().split(QLatin1Char('\n'))) {
        const int needed = label->fontMetrics().horizontalAdvance(QString(line).remove(QLatin1Char('&')));
        if (needed > label->contentsRect().width())
          clipped << where + line + QStringLiteral("\" needs %1, has %2").arg(needed).arg(label->contentsRect().width());
      }
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      // Box, spacing and caption: what the style asks for.
      if (box->sizeHint().width() > box->width())
        clipped << where + box->text() + QStringLiteral("\" needs %1, has %2").arg(box->sizeHint().width()).arg(box->width());
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      if (button->text().isEmpty()) continue;
      // The caption and the style's margin on both sides; a line of text high.
      const QFontMetrics metrics = button->fontMetrics();
      const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
      const int needed = metrics.horizontalAdvance(QString(button->text()).remove(QLatin1Char('&'))) + margin;
      if (needed > button->width() || metrics.height() > button->height())
        clipped << where + button->text() +
                       QStringLiteral("\" needs %1x%2, has %3x%4")
                           .arg(needed)
                           .arg(metrics.height())
                           .arg(button->width())
                           .arg(button->height());
    } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
      for (int i = 0; i < tabs->count(); ++i) {
        const int needed = tabs->fontMetrics().horizontalAdvance(tabs->tabText(i));
        if (needed > tabs->tabRect(i).width()) clipped << where + tabs->tabText(i) + "\" (tab)";
      }
    }
  }
  return clipped;
}

TEST_F(WindowScaleTest, NoCaptionIsClippedInEitherLanguage) {
  for (const char* lcid : {"1033", "1031"}) {
    UseLanguage(lcid);
    MainWindow window;
    CDovraneDlg& dialog = window.dialog();
    QSignalSpy filled(&dialog, &CDovraneDlg::TreesFilled);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return filled.count() >= 1; }, 10000));
    EXPECT_DOUBLE_EQ(dialog.devicePixelRatioF(), Wanted());
    EXPECT_EQ(extlib::ll_get_language() == 0, std::string(lcid) == "1031");
    EXPECT_EQ(Clipped(&dialog).join("\n").toStdString(), "") << "language " << lcid << ", ratio " << dialog.devicePixelRatioF();
    // At the smallest size the window allows, too.
    dialog.resize(dialog.minimumSize());
    QCoreApplication::processEvents();
    EXPECT_EQ(Clipped(&dialog).join("\n").toStdString(), "") << "smallest, language " << lcid;
    dialog.OnClose();
  }
}

// The tree images and the program's icon come in the screen's resolution.
TEST_F(WindowScaleTest, ImagesComeInTheScreensResolution) {
  const qreal ratio = Wanted();
  for (int i = 0; i < 19; ++i) {
    const QPixmap image = tree::TreeImage(i).pixmap(QSize(16, 16), ratio);
    EXPECT_EQ(image.size(), QSize(16, 16) * ratio) << "tree image " << i;
  }
  EXPECT_EQ(tree::ApplicationIcon().pixmap(QSize(32, 32), ratio).size(), QSize(32, 32) * ratio);
}

// A button's picture is drawn pixel for pixel from a rendering at the
// screen's resolution: where that rendering is opaque, the button shows
// exactly its pixels. One rendered at the logical size and blown up differs
// along every edge.
TEST_F(WindowScaleTest, ButtonPicturesAreDrawnSharp) {
  const qreal ratio = Wanted();
  if (ratio < 2) GTEST_SKIP() << "at ratio 1 every picture is drawn pixel for pixel";
  const std::map<QString, QString> pictures = {{"Refresh", ":/icons/button-refresh.svg"},
                                               {"Search", ":/icons/button-search.svg"},
                                               {"Data path", ":/icons/button-path.svg"},
                                               {"New project", ":/icons/button-new-project.svg"}};
  MainWindow window;
  CDovraneDlg& dialog = window.dialog();
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  int checked = 0;
  for (CBmButton* button : dialog.findChildren<CBmButton*>()) {
    auto it = pictures.find(button->accessibleName());
    if (it == pictures.end()) continue;
    ++checked;
    QImage expected = CBmButton::KeyTransparent(QIcon(it->second).pixmap(QSize(16, 16), ratio).toImage());
    if (!button->isEnabled()) expected = CBmButton::WashOut(expected);
    ASSERT_EQ(expected.size(), QSize(16, 16) * ratio);
    const QImage shot = button->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_DOUBLE_EQ(shot.devicePixelRatio(), ratio);
    const int left = static_cast<int>((button->width() - 16) / 2 * ratio);
    const int top = static_cast<int>((button->height() - 16) / 2 * ratio);
    int opaque = 0, same = 0;
    for (int y = 0; y < expected.height(); ++y)
      for (int x = 0; x < expected.width(); ++x) {
        const QRgb want = expected.pixel(x, y);
        if (qAlpha(want) != 255) continue;
        ++opaque;
        const QRgb got = shot.pixel(left + x, top + y);
        same += std::abs(qRed(got) - qRed(want)) <= 2 && std::abs(qGreen(got) - qGreen(want)) <= 2 &&
                std::abs(qBlue(got) - qBlue(want)) <= 2;
      }
    ASSERT_GT(opaque, 50) << button->accessibleName().toStdString();
    EXPECT_GE(same * 100, opaque * 99) << button->accessibleName().toStdString() << ": " << same << " of " << opaque
                                       << " pixels as rendered";
  }
  EXPECT_EQ(checked, 4);
}

}  // namespace
}  // namespace dovrane::ui

#include "ui/bm_button_ctrl.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

namespace dovrane::ui {
namespace {

// The top-left corner of the first pixel drawn black.
QPoint FirstBlack(const QImage& image) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) == Qt::black) return {x, y};
  return {-1, -1};
}

TEST(BmButtonTest, KeyColourOfTheTopLeftPixelBecomesTransparent) {
  QImage image(4, 4, QImage::Format_RGB32);
  image.fill(Qt::white);
  image.setPixel(2, 2, qRgb(10, 20, 30));
  QImage keyed = CBmButton::KeyTransparent(image);
  EXPECT_EQ(qAlpha(keyed.pixel(0, 3)), 0);
  EXPECT_EQ(keyed.pixel(2, 2), qRgb(10, 20, 30));
}

TEST(BmButtonTest, WashOutLiftsOnlyDarkChannels) {
  QImage image(1, 1, QImage::Format_ARGB32);
  image.setPixel(0, 0, qRgb(0, 127, 200));
  EXPECT_EQ(CBmButton::WashOut(image).pixel(0, 0), qRgb(128, 128, 200));
}

TEST(BmButtonTest, PressedShiftsAndDisabledWashesOutTheImage) {
  QImage black(16, 16, QImage::Format_ARGB32);
  black.fill(Qt::black);
  CBmButton button(QString{});
  button.SetExternalImage(&black);
  button.resize(28, 24);
  button.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
  const QPoint normal = FirstBlack(button.grab().toImage());
  EXPECT_EQ(normal, QPoint(6, 4));
  QTest::mousePress(&button, Qt::LeftButton);
  EXPECT_EQ(FirstBlack(button.grab().toImage()), normal + QPoint(1, 1));
  QTest::mouseRelease(&button, Qt::LeftButton);
  EXPECT_EQ(FirstBlack(button.grab().toImage()), normal);
  button.setEnabled(false);
  EXPECT_EQ(button.grab().toImage().pixelColor(normal + QPoint(3, 3)), QColor(128, 128, 128));
}

}  // namespace
}  // namespace dovrane::ui

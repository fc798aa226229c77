#include "tree/app_icons_qt.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <vector>

namespace dovrane::tree {
namespace {

// The share of pixels that are drawn (not transparent) at size x size.
double Coverage(const QString& path, int size, QImage* out = nullptr) {
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) return 0;
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter);
  painter.end();
  int drawn = 0;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) drawn += qAlpha(image.pixel(x, y)) > 0;
  if (out) *out = image;
  return static_cast<double>(drawn) / (size * size);
}

TEST(AppIconsTest, EveryImageRendersAt16And32Pixels) {
  ApplicationIcon();  // links the resources in
  std::vector<QString> paths;
  for (int i = 0; i < kTreeImageCount; ++i) paths.push_back(TreeImagePath(i));
  for (const char* name : {"search", "refresh", "path", "new-project"})
    paths.push_back(QStringLiteral(":/icons/button-%1.svg").arg(QLatin1String(name)));
  paths.push_back(QStringLiteral(":/icons/dovrane.svg"));
  for (const QString& path : paths)
    for (int size : {16, 32}) EXPECT_GT(Coverage(path, size), 0.15) << path.toStdString() << " at " << size;
  EXPECT_FALSE(TreeImage(3).pixmap(16, 16).isNull());
  EXPECT_FALSE(ButtonImage(QStringLiteral("refresh")).pixmap(32, 32).isNull());
  EXPECT_TRUE(TreeImage(kTreeImageCount).isNull());
  EXPECT_TRUE(TreeImage(-1).isNull());
}

TEST(AppIconsTest, TreeImagesAreTellApart) {
  std::vector<QImage> images(kTreeImageCount);
  for (int i = 0; i < kTreeImageCount; ++i) Coverage(TreeImagePath(i), 16, &images[i]);
  for (int i = 0; i < kTreeImageCount; ++i)
    for (int j = i + 1; j < kTreeImageCount; ++j) EXPECT_NE(images[i], images[j]) << i << " and " << j;
}

}  // namespace
}  // namespace dovrane::tree

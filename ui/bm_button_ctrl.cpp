#include "ui/bm_button_ctrl.h"

#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>

namespace dovrane::ui {

CBmButton::CBmButton(const QString& image, QWidget* parent) : QPushButton(parent), image_name_(image) {
  setAutoDefault(false);
  setFocusPolicy(Qt::TabFocus);
}

void CBmButton::SetExternalImage(const QImage* image) {
  external_ = image;
  update();
}

QImage CBmButton::KeyTransparent(QImage image) {
  if (image.isNull()) return image;
  image = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = image.pixel(0, 0);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if (line[x] == key) line[x] = qRgba(0, 0, 0, 0);
  }
  return image;
}

QImage CBmButton::WashOut(QImage image) {
  if (image.isNull()) return image;
  image = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      QRgb p = line[x];
      line[x] = qRgba(std::max(qRed(p), 128), std::max(qGreen(p), 128), std::max(qBlue(p), 128), qAlpha(p));
    }
  }
  return image;
}

const QImage& CBmButton::Image() {
  if (external_) return *external_;
  if (!loaded_) {
    // Loaded the first time it is drawn and kept for the button's life.
    loaded_ = true;
    if (!QFile::exists(image_name_)) return image_;
    const qreal ratio = devicePixelRatioF();
    QImage rendered = QIcon(image_name_).pixmap(QSize(width_, height_), ratio).toImage();
    if (!rendered.isNull()) image_ = KeyTransparent(rendered);
  }
  return image_;
}

void CBmButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  const QImage& source = Image();
  if (source.isNull()) return;
  QImage image = state_ == kStateDisabled ? WashOut(source) : source;
  const qreal ratio = image.devicePixelRatio() > 0 ? image.devicePixelRatio() : 1.0;
  const QSize size = (QSizeF(image.size()) / ratio).toSize();
  QRect place = rect().adjusted((width() - size.width()) / 2, (height() - size.height()) / 2,
                                -(width() - size.width()) / 2, -(height() - size.height()) / 2);
  if (state_ == kStatePressed) place.translate(1, 1);
  QPainter painter(this);
  painter.setClipRect(rect());
  painter.drawImage(QRect(place.topLeft(), size), image);
}

void CBmButton::SetState(int state) {
  state_ = state;
  repaint();
}

void CBmButton::mousePressEvent(QMouseEvent* event) {
  QPushButton::mousePressEvent(event);
  if (event->button() == Qt::LeftButton && isEnabled()) SetState(kStatePressed);
}

void CBmButton::mouseReleaseEvent(QMouseEvent* event) {
  QPushButton::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && isEnabled()) SetState(kStateNormal);
}

void CBmButton::changeEvent(QEvent* event) {
  QPushButton::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) SetState(isEnabled() ? kStateNormal : kStateDisabled);
}

}  // namespace dovrane::ui

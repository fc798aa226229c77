// The bitmap push button of the search row: an image drawn centred over the
// button, shifted one pixel right and down while pressed, washed out while
// disabled.
#pragma once

#include <QImage>
#include <QPushButton>
#include <QString>

namespace dovrane::ui {

class CBmButton : public QPushButton {
  Q_OBJECT

 public:
  static constexpr int kStateNormal = 0;
  static constexpr int kStatePressed = 1;
  static constexpr int kStateDisabled = 255;

  // `image`: a resource path such as ":/icons/button-search.svg"; a missing
  // image draws nothing.
  explicit CBmButton(const QString& image, QWidget* parent = nullptr);

  // Drawn instead of the resource image while set (not owned).
  void SetExternalImage(const QImage* image);
  int State() const { return state_; }

  // The colour of the top-left pixel becomes transparent (the image's key
  // colour), as the button's images have always been drawn.
  static QImage KeyTransparent(QImage image);
  // Every colour channel below 128 drawn as 128: the disabled look.
  static QImage WashOut(QImage image);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  const QImage& Image();
  void SetState(int state);

  QImage image_;
  const QImage* external_ = nullptr;
  int state_ = kStateNormal;
  QString image_name_;
  bool loaded_ = false;
  int width_ = 16;
  int height_ = 16;
};

}  // namespace dovrane::ui

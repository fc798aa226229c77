// The window's images, SVG drawings compiled into the program: the 19 tree
// images by their image index, the search row's buttons, the program icon.
// Drawn for 16 px and sharp at any scale (HiDPI screens draw them at 32 px).
#pragma once

#include <QIcon>
#include <QString>

namespace dovrane::tree {

inline constexpr int kTreeImageCount = 19;

// The tree image of an item kind's image index (0..18); a null icon outside.
QIcon TreeImage(int index);
// A search-row button: "search", "refresh", "path", "new-project".
QIcon ButtonImage(const QString& name);
QIcon ApplicationIcon();
// The resource path of an image, ":/icons/tree/04.svg" for tree image 4.
QString TreeImagePath(int index);

}  // namespace dovrane::tree

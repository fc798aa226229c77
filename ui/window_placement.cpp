#include "ui/window_placement.h"

#include <algorithm>
#include <utility>

#include "extlib/installation/settings.h"

namespace dovrane::ui {

namespace {

// The values in their stored order, paired with their names.
template <class Placement, class F>
void ForEachValue(Placement& p, F f) {
  f("wp.showCmd", p.show_cmd);
  f("wp.flags", p.flags);
  f("wp.ptMinPosition.x", p.min_x);
  f("wp.ptMinPosition.y", p.min_y);
  f("wp.ptMaxPosition.x", p.max_x);
  f("wp.ptMaxPosition.y", p.max_y);
  f("wp.left", p.left);
  f("wp.right", p.right);
  f("wp.top", p.top);
  f("wp.bottom", p.bottom);
}

}  // namespace

WindowPlacement LoadWindowPlacement(const WindowPlacement& current) {
  WindowPlacement p = current;
  ForEachValue(p, [](const char* name, int& value) {
    value = static_cast<int>(extlib::GetProfileInt(kPlacementSection, name, value));
  });
  return p;
}

bool SaveWindowPlacement(const WindowPlacement& placement) {
  bool ok = true;
  ForEachValue(placement, [&ok](const char* name, const int& value) {
    ok = extlib::WriteProfileInt(kPlacementSection, name, value) && ok;
  });
  return ok;
}

bool PlacementOnScreen(const WindowPlacement& p, int left, int top, int right, int bottom) {
  return std::max(p.left, left) < std::min(p.right, right) && std::max(p.top, top) < std::min(p.bottom, bottom);
}

}  // namespace dovrane::ui

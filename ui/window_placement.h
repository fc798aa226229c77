// The main window's placement in the application profile: ten integers in
// the section "Settings\DovranePlcmnt", as the window has always kept them.
// On Linux the normal rectangle is the window's position (its frame's
// top-left corner) and the size of its client area; the window manager adds
// its frame.
#pragma once

namespace dovrane::ui {

inline constexpr char kPlacementSection[] = "Settings\\DovranePlcmnt";

// Show states as they are stored.
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMinimized = 2;
inline constexpr int kShowMaximized = 3;

struct WindowPlacement {
  int show_cmd = kShowNormal;
  int flags = 0;
  int min_x = -1, min_y = -1;  // kept as stored; no use on Linux
  int max_x = -1, max_y = -1;
  int left = 0, right = 0, top = 0, bottom = 0;  // the normal rectangle
};

// All ten values, each one that is missing taken from `current`.
WindowPlacement LoadWindowPlacement(const WindowPlacement& current);
// Writes the ten values; false when the user settings could not be written.
bool SaveWindowPlacement(const WindowPlacement& placement);

// True when the normal rectangle shares an area with the screens' rectangle
// (left, top, right, bottom); a placement outside is ignored.
bool PlacementOnScreen(const WindowPlacement& placement, int left, int top, int right, int bottom);

}  // namespace dovrane::ui

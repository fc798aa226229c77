// The main window's two switches, pinging of hosts and the periodic refresh
// check, as the user settings keep them, and the "noping" file that turns
// pinging off for a work folder.
#pragma once

namespace dovrane::ui {

inline constexpr char kPingIsAllowedKey[] = "Settings\\PingIsAllowed";
inline constexpr char kRefreshIsAllowedKey[] = "Settings\\RefreshIsAllowed";

// At construction: 1, or 0 when a file "noping" lies in the current folder.
int PingAllowedAtConstruction();

struct DialogSwitches {
  int ping_allowed = 1;
  int refresh_checked = 1;
};

// The start: each value stored in the user settings replaces the one given
// (a stored non-zero value is 1).
DialogSwitches ReadStoredSwitches(DialogSwitches defaults);
// The close: writes both check states; false when they could not be written.
bool SaveSwitches(const DialogSwitches& switches);

}  // namespace dovrane::ui

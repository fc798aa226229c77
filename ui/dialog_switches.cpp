#include "ui/dialog_switches.h"

#include "extlib/installation/settings.h"
#include "platform/env.h"

namespace dovrane::ui {

int PingAllowedAtConstruction() {
  platform::FileInfo info;
  return platform::CurrentEnv()->Stat("noping", &info) == 0 ? 0 : 1;
}

DialogSwitches ReadStoredSwitches(DialogSwitches defaults) {
  unsigned long value = 0;
  if (extlib::RVSYS_VekRegGetNumber("HKCU", kPingIsAllowedKey, &value) & 0xFF)
    defaults.ping_allowed = value != 0 ? 1 : 0;
  if (extlib::RVSYS_VekRegGetNumber("HKCU", kRefreshIsAllowedKey, &value) & 0xFF)
    defaults.refresh_checked = value != 0 ? 1 : 0;
  return defaults;
}

bool SaveSwitches(const DialogSwitches& switches) {
  bool ping = extlib::RVSYS_VekRegPutNumber("HKCU", kPingIsAllowedKey, switches.ping_allowed ? 1 : 0) & 0xFF;
  bool refresh = extlib::RVSYS_VekRegPutNumber("HKCU", kRefreshIsAllowedKey, switches.refresh_checked ? 1 : 0) & 0xFF;
  return ping && refresh;
}

}  // namespace dovrane::ui

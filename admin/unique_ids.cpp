#include "admin/unique_ids.h"

#include <unordered_set>

#include "app/console.h"
#include "app/tool_message_box.h"
#include "extlib/hosts.h"
#include "extlib/language.h"
#include "extlib/library_init.h"
#include "extlib/project_list.h"

namespace dovrane::admin {

namespace {

constexpr char kInconsistentEnglish[] =
    "The project administration is inconsistent. This should be urgently corrected.\n\nHow should you proceed "
    "now?\n- Close Pelomar on all workstations.%s\n- If you are ready, click OK, to reorganize the project "
    "administration automatically.\n";
constexpr char kServersEnglish[] = "\n- Switch on all Pelomar data servers in your network.";
// Windows-1252 text: "\xe4" is a-umlaut.
constexpr char kInconsistentGerman[] =
    "Die Projektverwaltung ist inkonsistent. Dies sollte dringend behoben werden.\n\nWas sollten Sie jetzt "
    "tun?\n- Beenden Sie Pelomar an allen Arbeitspl\xe4tzen.%s\n- Wenn Sie bereit sind, klicken Sie auf OK, um "
    "die Projektverwaltung automatisch reparieren zu lassen.\n";
constexpr char kServersGerman[] = "\n- Schalten Sie alle Pelomar Datenserver in Ihrem Netzwerk ein.";

}  // namespace

int CheckUniqueIds(long console) {
  app::lfConsoleWrite(console, "Check project administration for uniq IDs ...\n");
  const bool network = extlib::lfnetg() != 0;
  int count = 0;
  extlib::PRJ* list = nullptr;
  if (extlib::ltbpliC_new(extlib::kSlotNet, &count, &list, 0, nullptr) != 0) {
    app::ToolMessageBox(app::kMessageWarning, "Can't make project list.\n");
    return -1;
  }
  app::lfConsoleWrite(console, "%d projects found\n", count);
  // One pass with a hash set finds the same answer as comparing every
  // record with all later ones.
  std::unordered_set<uint32_t> seen;
  seen.reserve(static_cast<size_t>(count));
  bool duplicate = false;
  for (int i = 0; i < count && !duplicate; ++i)
    if (list[i].number != 0) duplicate = !seen.insert(list[i].number).second;
  extlib::ltbpliC_delete(&list);
  if (!duplicate) {
    app::lfConsoleWrite(console, "\tOK, no problems found.\n");
    return 0;
  }
  app::lfConsoleWrite(console, "\tproblem found!\n Administration must be rebuild!\n");
  const bool english = extlib::ll_get_language() != 0;
  app::ToolMessageBox(app::kMessageError, english ? kInconsistentEnglish : kInconsistentGerman,
                      network ? (english ? kServersEnglish : kServersGerman) : "");
  return 1;
}

}  // namespace dovrane::admin

#include "admin/unique_ids.h"

#include <string>
#include <unordered_set>
#include <vector>

#include "admin/administration_header.h"
#include "extlib/records/administration.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_code.h"
#include "extlib/records/project_list.h"
#include "extlib/records/record_layout.h"
#include "extlib/installation/slot_files.h"
#include "platform/env.h"
#include "services/tool_message_box.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

namespace layout = extlib::layout;

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

// The numbers of the live records, read straight from the fixed-width lines
// (the number field only). -1 when a line is not a whole version 3 record of
// the file's layout: then the library's project list decides (and reports).
int ScanNumbers(extlib::OperationContext& ctx, std::vector<uint32_t>* numbers) {
  std::string path;
  if (extlib::lffnamC_new(ctx, extlib::kSlotNet, extlib::kAdministrationFile, &path) != 0) return kPrjFailed;
  AdministrationHeader header;
  int fd = OpenAdministrationHeader(ctx, path, ShareMode::kDenyNone, &header);
  if (fd < 0) return kPrjFailed;
  int rc = header.version == layout::kCurrentVersion ? 0 : kPrjFailed;
  const size_t length = static_cast<size_t>(layout::V3LineLength(header.user_words));
  RecordStream in(ctx.Env(), fd);
  std::string line;
  bool ended = false;
  while (rc == 0 && in.NextLine(&line, &ended) == 0) {
    if (header.line_end == 2 && !line.empty() && line.back() == '\r') line.pop_back();
    uint32_t number = 0;
    if (!ended || line.size() != length || line[layout::kV3NameEnd] != layout::kFieldEnd ||
        !extlib::ParseNumberText(line.substr(layout::kV3Number, layout::kNumberWidth), &number)) {
      rc = kPrjFailed;
    } else if (line[0] != '#') {
      numbers->push_back(number);
    }
  }
  platform::CloseNothingPending(&ctx.Env(), fd);
  return rc;
}

// The same from the library's list. 0 or -1.
int ListNumbers(extlib::OperationContext& ctx, std::vector<uint32_t>* numbers) {
  int count = 0;
  extlib::PRJ* list = nullptr;
  if (extlib::ltbpliC_new(ctx, extlib::kSlotNet, &count, &list, 0, nullptr) != 0) return kPrjFailed;
  for (int i = 0; i < count; ++i) numbers->push_back(list[i].number);
  extlib::ltbpliC_delete(&list);
  return 0;
}

}  // namespace

int CheckUniqueIds(extlib::OperationContext& ctx) {
  ctx.Print("Check project administration for uniq IDs ...\n");
  const bool network = extlib::lfnetg(ctx) != 0;
  std::vector<uint32_t> numbers;
  if (ScanNumbers(ctx, &numbers) != 0) {
    numbers.clear();
    if (ListNumbers(ctx, &numbers) != 0) {
      services::ToolMessageBox(ctx, services::kMessageWarning, "Can't make project list.\n");
      return kNumbersUnreadable;
    }
  }
  ctx.Print("%d projects found\n", static_cast<int>(numbers.size()));
  // One pass with a hash set finds the same answer as comparing every
  // record with all later ones.
  std::unordered_set<uint32_t> seen;
  seen.reserve(numbers.size());
  bool duplicate = false;
  for (size_t i = 0; i < numbers.size() && !duplicate; ++i)
    if (numbers[i] != 0) duplicate = !seen.insert(numbers[i]).second;
  if (!duplicate) {
    ctx.Print("\tOK, no problems found.\n");
    return kNumbersUnique;
  }
  ctx.Print("\tproblem found!\n Administration must be rebuild!\n");
  const bool english = extlib::ll_get_language() != 0;
  services::ToolMessageBox(ctx, services::kMessageError, english ? kInconsistentEnglish : kInconsistentGerman,
                           network ? (english ? kServersEnglish : kServersGerman) : "");
  return kNumberUsedTwice;
}

}  // namespace dovrane::admin

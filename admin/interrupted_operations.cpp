#include "admin/interrupted_operations.h"

#include <string>
#include <vector>

#include "extlib/operation_context.h"
#include "extlib/operation_journal.h"
#include "extlib/project_code.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

int CompleteInterruptedOperations(extlib::OperationContext& ctx) {
  std::vector<std::string> names;
  if (extlib::ListOperationJournals(&names) != 0) return kPrjFailed;
  int done = 0;
  for (const std::string& name : names) {
    extlib::OperationJournal journal;
    const extlib::JournalOutcome outcome = extlib::PutJournalRight(name, &journal);
    if (outcome != extlib::JournalOutcome::kCompleted && outcome != extlib::JournalOutcome::kTakenBack) continue;
    const char* what = journal.kind == extlib::JournalKind::kCreate ? "creation" : "erasure";
    const char* how = outcome == extlib::JournalOutcome::kCompleted ? "completed" : "taken back";
    ctx.Print("Interrupted %s of project <%s> on host <%s> %s.\n", what, journal.entry.c_str(), journal.host.c_str(),
              how);
    ++done;
  }
  return done;
}

}  // namespace dovrane::admin

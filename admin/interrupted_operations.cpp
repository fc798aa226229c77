#include "admin/interrupted_operations.h"

#include <string>
#include <vector>

#include "admin/checkout_file.h"
#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "extlib/projects/operation_journal.h"
#include "extlib/projects/project_code.h"

namespace dovrane::admin {

using enum extlib::ProjectCode;

int CompleteInterruptedOperations(extlib::OperationContext& ctx) {
  std::vector<std::string> names;
  if (extlib::ListOperationJournals(ctx, &names) != 0) return kPrjFailed;
  int done = 0;
  for (const std::string& name : names) {
    extlib::OperationJournal journal;
    const extlib::JournalOutcome outcome = extlib::PutJournalRight(ctx, name, &journal);
    if (outcome != extlib::JournalOutcome::kCompleted && outcome != extlib::JournalOutcome::kTakenBack) continue;
    // Lines 7 to 10: a creation completed or taken back, an erasure completed or taken back.
    const int line = 7 + (journal.kind == extlib::JournalKind::kCreate ? 0 : 2) +
                     (outcome == extlib::JournalOutcome::kCompleted ? 0 : 1);
    ctx.Print("%s", extlib::LanguageTextWith(extlib::kRepairTexts, line, {journal.entry, journal.host}).c_str());
    ++done;
  }
  // Journals whose write was cut short were never journals: their
  // temporaries go, and nothing else needs putting right.
  (void)extlib::RemoveJournalTemporaries(ctx);
  (void)RemoveCheckoutFileTemporaries(ctx);
  return done;
}

}  // namespace dovrane::admin

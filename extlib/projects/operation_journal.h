// The journal of a project create or erase: \Net\n0000201.prj.new while a
// create builds its folder and record, \Net\n0000012.prj.del while an erase
// takes them away. A create or erase cut short (a crash) leaves it behind,
// and the next update puts the project right by what it finds.
//
// A journal names only a host and a project entry of that host's project
// folder; every path it leads to is built from those two, below the host's
// project folder, so a journal written by someone else cannot lead anywhere
// else.
#pragma once

#include <string>
#include <vector>

namespace dovrane::extlib {

class OperationContext;

enum class JournalKind { kCreate, kErase };

struct OperationJournal {
  JournalKind kind = JournalKind::kCreate;
  std::string host;
  std::string entry;  // "n0000201.prj", or "<name>.prj" for a project without number
};

std::string FormatOperationJournal(const OperationJournal& journal);
// False for anything but a journal of a valid host and a plain entry name.
bool ParseOperationJournal(const std::string& text, OperationJournal* journal);

// The journal's file name in \Net: the entry with ".new" or ".del".
std::string JournalFileName(const OperationJournal& journal);
// Writes the journal crash-safe. 0 or negative.
[[nodiscard]] int WriteOperationJournal(extlib::OperationContext& ctx, const OperationJournal& journal);
void RemoveOperationJournal(extlib::OperationContext& ctx, const OperationJournal& journal);
// True when a create journal for the entry lies in \Net (a create of that
// number was cut short and waits for the update).
bool CreateJournalExists(OperationContext& ctx, const std::string& entry);

// The names a create builds in and an erase takes away to: beside the entry,
// with ".new~" or ".del~" appended (native or Windows form alike).
std::string CreateWorkName(const std::string& entry_path);
std::string EraseWorkName(const std::string& entry_path);

// What putting a journal right did.
enum class JournalOutcome {
  kLeft,        // not judged now (locked, unreadable): the journal stays
  kNothing,     // the operation left nothing to put right
  kCompleted,   // the project was finished as the operation meant
  kTakenBack,   // the project is as it was before the operation
};

// Puts right the operation of the journal file `file_name` in \Net, under
// the lock the operation held, and removes the journal unless kLeft.
// *journal gets what the journal says, for messages.
JournalOutcome PutJournalRight(OperationContext& ctx, const std::string& file_name, OperationJournal* journal);

// The journal files in \Net (names only). 0 or -errno.
[[nodiscard]] int ListOperationJournals(OperationContext& ctx, std::vector<std::string>* names);

// Removes what journal writes cut short left in \Net: a journal is written
// crash-safe, so a kill before its rename leaves its temporary
// ("n0000209.prj.new.new~<pid>"), which no journal pass reads. A create's is
// removed under the null record's lock, which every create holds while it
// writes its journal; an erase's under the lock of the record its entry
// names (or when no record names it). Only regular files of exactly that
// form go. Returns how many were removed, or -errno when \Net cannot be listed.
[[nodiscard]] int RemoveJournalTemporaries(OperationContext& ctx);

}  // namespace dovrane::extlib

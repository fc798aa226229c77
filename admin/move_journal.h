// The journal of a project move: \Net\n0000012.mov names the project, both
// hosts and both folders while the folder and the record change one after
// the other. A move cut short (a crash between the two) leaves it behind, and
// the next update finishes the move or takes it back by what it finds.
#pragma once

#include <cstdint>
#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::admin {

struct MoveJournal {
  uint32_t number = 0;
  std::string old_host, new_host;
  std::string old_dir, new_dir;  // Windows form
};

std::string FormatMoveJournal(const MoveJournal& journal);
bool ParseMoveJournal(const std::string& text, MoveJournal* journal);

// Writes the journal crash-safe before anything moves. 0 or kPrjFailed.
[[nodiscard]] int WriteMoveJournal(extlib::OperationContext& ctx, const MoveJournal& journal);
void RemoveMoveJournal(extlib::OperationContext& ctx, uint32_t number);

// A journal is trusted only when its two folders are the folders of its
// number below the project folders of its two (different, known) hosts:
// anyone may write into \Net, and putting a move right removes a folder.
bool JournalNamesItsOwnFolders(extlib::OperationContext& ctx, const MoveJournal& journal);

// Puts right every move that a journal shows was cut short: the record keeps
// the folder that exists (the other one, a copy left over, is removed), and
// the journal goes. A journal naming other folders is reported and left.
// Returns the number of moves put right, or -1 when \Net cannot be listed.
[[nodiscard]] int CompleteInterruptedMoves(extlib::OperationContext& ctx);

}  // namespace dovrane::admin

// The copy of a project to another host, as the paste command and a drop
// with Ctrl run it after the person agreed: the new name, and the copy itself
// with its own number and identifier, the files through the copy engine.
#pragma once

#include <cstdint>
#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::tree {

// Names typed or edited are limited to this many characters.
inline constexpr size_t kMaxProjectNameLength = 50;

// The copy's name: UI text (2, 4), a blank and the source name, blanks
// trimmed. Longer than kMaxProjectNameLength: the window lets the person cut
// it (the name-cut dialog) before CopyProjectToHost.
std::string CopyName(const std::string& source_name);
bool NeedsNameCut(const std::string& name);

// Copies project source_name (padded or not) as new_name to host in ctx
// (its progress counts the bytes, its cancel stops the copy). 0 with
// *new_number; -8 for a new name longer than 50 characters; -11 cancelled;
// otherwise the copy's code. Whatever the end, the project is either fully
// registered under its own number or not there at all.
[[nodiscard]] int CopyProjectToHost(extlib::OperationContext& ctx, const std::string& source_name, const std::string& new_name,
                      const std::string& host, uint32_t* new_number);

}  // namespace dovrane::tree

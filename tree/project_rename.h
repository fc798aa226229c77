// The in-place renaming of a project: the text the person typed, and the
// rename of the record (and of the record its folder keeps) under the record
// locks.
#pragma once

#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::tree {

// The label edit's acceptance test: a new text that differs from the label
// before editing (exact compare) and starts with neither its end nor a blank.
bool AcceptsNewLabel(const std::string& new_text, const std::string& old_label);

// Renames project old_name to new_name (both padded to 50 with blanks for the
// library). A refusal is shown with its project error text. Returns the
// library's code, 0 for success; the project is then under exactly one of
// the two names.
[[nodiscard]] int RenameProject(extlib::OperationContext& ctx, const std::string& new_name, const std::string& old_name);

}  // namespace dovrane::tree

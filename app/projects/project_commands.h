// The commands that create, copy, erase and unblock one project, shared by
// the command line and the main window. Each takes the padded project name
// and returns 0 or a project error code; every failure is shown once.
#pragma once

#include "extlib/projects/project_code.h"

#include <cstdint>
#include <string>

#include "extlib/installation/operation_context.h"

namespace dovrane::app {

// The library's result; only the warning beep on failure.
[[nodiscard]] extlib::ProjectCode CreateProject(extlib::OperationContext& ctx, const std::string& padded_name,
                                                const std::string& host);
// 0 erased (or skipped by the person), 1 the question went unanswered (nothing
// erased), or an error code. Asks first while the interactive flag is 1.
[[nodiscard]] extlib::ProjectCode EraseProject(extlib::OperationContext& ctx, const std::string& padded_name);
// Clears the check-out marks and deletes the project's check-out file.
// 0, -6, -20 (its host is still checked out), or a library code.
[[nodiscard]] extlib::ProjectCode UnblockProject(extlib::OperationContext& ctx, const std::string& padded_name);
// Copies project `source_number` as new_name onto host ("" or "localhost":
// the source's host, or the only one). 0 with *new_number, -1, -17, or a
// library code. The files go through the copy engine with ctx's progress
// and cancel; a cancelled copy leaves nothing behind and gives -11
// (kPrjInterrupted) without a message.
[[nodiscard]] extlib::ProjectCode CopyProjectByNumber(extlib::OperationContext& ctx, const std::string& new_name, uint32_t source_number,
                        const std::string& host, uint32_t* new_number);
// Deletes the project's lock information file unless a session holds it.
// Non-zero when it was there and could not be deleted.
[[nodiscard]] int RemoveLockInfoFile(extlib::OperationContext& ctx, const std::string& padded_name);

}  // namespace dovrane::app

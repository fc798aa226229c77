// Output for scripts: the queries' records as one JSON object, and the list
// of every project (--list) as tab-separated lines or JSON lines. JSON is
// UTF-8; the records' Windows-1252 texts are converted.
#pragma once

#include "extlib/projects/project_code.h"

#include <string>

#include "app/command_table.h"
#include "app/long_options.h"
#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/written_line.h"

namespace dovrane::app {

// The record's fields as one JSON object (one line, no line end): name,
// number, number_text, host, status (the flag bits), checked_out, link,
// version, dbkey, begin (seconds), owner and members (user names).
std::string RecordJson(const extlib::PRJ& record);

// A query (-exist, -info, -getpath, -getnumber, -getdbid) of args' project
// as JSON on standard output: the record's fields plus "path" (its folder, ""
// when it cannot be built); a failed lookup prints {"name", "result",
// "error"}. Returns the query's result, as the query itself would.
[[nodiscard]] extlib::ProjectCode RunQueryAsJson(extlib::OperationContext& ctx, const std::string& option,
                                                 const CommandArgs& args);
// A query's failure as JSON on standard output: {"name", "result", "error"}.
void WriteQueryFailureAsJson(const std::string& padded_name, int rc, std::string text);

// One tab-separated line of the list in UTF-8: name, number text, host,
// status flags, version, key (names without their padding).
std::string ListLine(const extlib::PRJ& record);
// The same line from the fields of a record line in the written form
// (WrittenLineCheck): what the list prints for it without parsing it.
std::string WrittenListLine(const extlib::WrittenFields& fields);

// --list: every live project of the administration from the shared project
// table, in administration order, restricted to one host (case-insensitive)
// with --host. 0, or the table's result (-2 none, -1 unreadable).
[[nodiscard]] extlib::ProjectCode ListProjects(extlib::OperationContext& ctx, const LongOptions& options);

}  // namespace dovrane::app

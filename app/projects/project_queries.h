// The five read-only project commands: -exist, -info, -getpath, -getnumber
// and -getdbid. Each takes the padded project name and returns 0 or the
// lookup's negative project error code (-1 when the output file cannot be
// written). The project is looked up in the context's installation; the
// folder that -info and -getpath show is still built through the process
// default installation (the C-style folder functions).
#pragma once

#include "extlib/projects/project_code.h"

#include <string>

#include "extlib/installation/operation_context.h"
#include "extlib/records/prj_record.h"

namespace dovrane::app {

// 0 when the project is in the administration; no output.
[[nodiscard]] extlib::ProjectCode ProjectExist(extlib::OperationContext& ctx, const std::string& padded_name);
// Shows the project's record as an information box.
[[nodiscard]] extlib::ProjectCode ProjectInfo(extlib::OperationContext& ctx, const std::string& padded_name);
// output_file "" means none: the result is shown instead of written.
[[nodiscard]] extlib::ProjectCode ProjectGetPath(extlib::OperationContext& ctx, const std::string& padded_name,
                                   const std::string& output_file);
[[nodiscard]] extlib::ProjectCode ProjectGetNumber(extlib::OperationContext& ctx, const std::string& padded_name,
                                   const std::string& output_file);
[[nodiscard]] extlib::ProjectCode ProjectGetDbId(extlib::OperationContext& ctx, const std::string& padded_name,
                                   const std::string& output_file);

// The text -info shows for a record (display_name: the converted padded name).
std::string ProjectInfoText(extlib::OperationContext& ctx, const std::string& display_name, const extlib::PRJ& record);
// The user's name text as the system shows it (the padding kept).
std::string DisplayName(const std::string& padded_name);
// Replaces the named file with text. Relative names are taken from the folder
// the program was started in; Windows-style paths are mapped. 0 or -1.
[[nodiscard]] extlib::ProjectCode WriteOutputFile(extlib::OperationContext& ctx, const std::string& file,
                                                  const std::string& text);

}  // namespace dovrane::app

#include "extlib/projects/project_folder.h"

#include "extlib/installation/operation_context.h"
#include "extlib/projects/project_paths.h"
#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

int ProjectFolderByNumber(OperationContext& ctx, uint32_t number, std::string* native_dir) {
  PRJ record;
  int rc = get_PrjInfo_by_number(ctx, number, &record);
  std::string dir;
  if (rc == 0) rc = make_prj_dir(ctx, record, &dir);
  if (rc == 0) *native_dir = ctx.Native(dir);
  return rc;
}

}  // namespace dovrane::extlib

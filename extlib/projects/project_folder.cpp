#include "extlib/projects/project_folder.h"

#include "extlib/records/prj_record.h"
#include "extlib/records/project_list.h"
#include "extlib/projects/project_paths.h"
#include "platform/path_map.h"

namespace dovrane::extlib {

int ProjectFolderByNumber(uint32_t number, std::string* native_dir) {
  PRJ record;
  int rc = get_PrjInfo_by_number(number, &record);
  std::string dir;
  if (rc == 0) rc = make_prj_dir(record, &dir);
  if (rc == 0) *native_dir = platform::NativePath(dir);
  return rc;
}

}  // namespace dovrane::extlib

// What the browse dialog's OK does with the chosen place before it asks the
// last question: a plain directory is prepared as a new data server (its Prj
// and Usr folders made); an existing one is refused when it is the network
// installation's own data directory or already belongs to an administration;
// either must pass a write test. Touches the disk: runs on a worker.
#pragma once

#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::network {

struct DataServerChoice {
  // 1: go on (ask the confirmation); 0: stay (beep; message when not empty).
  int rc = 0;
  std::string path;     // the data server's path, without a trailing "\*"
  bool created = false; // Prj was made below it
  std::string message;  // what the dialog shows when rc is 0
  bool error_icon = true;
};

// field: the dialog's path field ("\\HOST\share\dir" or "...\dir\*").
DataServerChoice CheckDataServerChoice(extlib::OperationContext& ctx, const std::string& field);

}  // namespace dovrane::network

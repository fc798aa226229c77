#include "platform/program_handover.h"

#include <unistd.h>

#include <cerrno>

namespace dovrane::platform {

int HandOverTo(const std::string& program, char* const* argv) {
  ::execv(program.c_str(), argv);
  return errno;
}

}  // namespace dovrane::platform

// data.cfg: what the reader accepts, the writer writes back to the same hosts.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "extlib/installation/hosts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dovrane::extlib;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<HostEntry> hosts;
  int bad_line = 0;
  // Unusable lines are left out, never the whole list.
  if (ParseHostList(text, &hosts, &bad_line) != 0 || bad_line < 0) std::abort();
  std::vector<HostEntry> again;
  if (ParseHostList(FormatHostList(hosts), &again, &bad_line) != 0 || bad_line != 0) std::abort();
  if (again.size() != hosts.size()) std::abort();
  for (size_t i = 0; i < hosts.size(); ++i)
    if (again[i].name != hosts[i].name || again[i].data_path != hosts[i].data_path) std::abort();
  return 0;
}

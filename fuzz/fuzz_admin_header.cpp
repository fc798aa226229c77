// The administration header: any bytes are either a header or refused.
#include <cstdint>
#include <cstdlib>

#include "extlib/records/record_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dovrane::extlib;
  AdminHeader header;
  int rc = ParseHeaderBytes(reinterpret_cast<const char*>(data), size, &header);
  if (rc == 0) {
    // An accepted header describes itself again the same way.
    if (header.version < 1 || header.version > 3 || header.highest > 9999999) std::abort();
    if (header.line_end != 1 && header.line_end != 2) std::abort();
    std::string again = FormatHeader(header.version, header.highest, header.line_end);
    AdminHeader reread;
    if (ParseHeaderBytes(again.data(), again.size(), &reread) != 0) std::abort();
    if (reread.version != header.version || reread.highest != header.highest ||
        reread.line_end != header.line_end)
      std::abort();
  }
  return 0;
}

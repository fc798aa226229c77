// Version 3 record lines: the first byte picks the containers on disk and in
// the installation and whether it is a network installation; the rest is the line.
#include <cstdint>
#include <string>

#include "extlib/records/record_line.h"
#include "fuzz/record_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dovrane::extlib;
  if (size < 1) return 0;
  const int user_words = data[0] & 3;
  const int containers_now = 1 + ((data[0] >> 2) & 3);
  const bool network = (data[0] & 0x10) != 0;
  const char* line = reinterpret_cast<const char*>(data + 1);
  PRJ record;
  if (ParseRecordV3(line, size - 1, user_words, containers_now, network, &record) != 0) return 0;
  std::string written;
  if (!FormatRecordV3(record, containers_now, &written)) return 0;
  PRJ reread;
  if (ParseRecordV3(written.data(), written.size(), containers_now, containers_now, network, &reread) != 0)
    std::abort();
  dovrane::fuzz::ExpectSameRecord(record, reread, 4 * static_cast<size_t>(containers_now));
  return 0;
}

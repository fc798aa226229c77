#include "extlib/record_stream.h"

#include <cstring>
#include <memory>

#include "extlib/project_code.h"
#include "extlib/record_layout.h"
#include "extlib/record_line.h"
#include "platform/env.h"

namespace dovrane::extlib {

namespace L = layout;

int ReadRecordStream(int fd, int containers, bool network, uint32_t* highest, long* bad_slot,
                     const std::function<void(const PRJ& record, long slot)>& each,
                     const std::function<bool(const char* line)>& wanted) {
  *bad_slot = 0;
  platform::Env* env = platform::CurrentEnv();
  // Not zero-filled: only what the file fills is touched (a small
  // administration costs no megabyte of clearing and page faults).
  constexpr size_t kChunk = size_t{1} << 20;
  const std::unique_ptr<char[]> buf = std::make_unique_for_overwrite<char[]>(kChunk);
  size_t have = 0;  // bytes in buf
  AdminHeader header;
  bool have_header = false;
  long line_bytes = 0, slot = 0;
  size_t used = 0;
  int rc = kPrjOk;
  PRJ record;
  const size_t length = static_cast<size_t>(L::V3LineLength(containers));
  for (bool eof = false; rc == kPrjOk && !eof;) {
    // What is left of the last chunk (less than a line) moves to the front;
    // the file is read straight behind it.
    std::memmove(buf.get(), buf.get() + used, have - used);
    have -= used;
    used = 0;
    int64_t n = env->Read(fd, buf.get() + have, kChunk - have);
    if (n > 0) have += static_cast<size_t>(n);
    if (n < 0) rc = kPrjFailed;
    if (n <= 0) eof = true;
    if (!have_header) {
      if (have < 12 && !eof) continue;
      if (ParseHeaderBytes(buf.get(), have, &header) != 0 || header.version != L::kCurrentVersion) {
        rc = kPrjFailed;
        break;
      }
      have_header = true;
      *highest = header.highest;
      used = L::kHeaderText + header.line_end;
      line_bytes = static_cast<long>(length) + header.line_end;
    }
    while (rc == kPrjOk && have - used >= static_cast<size_t>(line_bytes)) {
      ++slot;
      const char* line = buf.get() + used;
      const bool parse = !wanted || wanted(line);
      if (line[line_bytes - 1] != '\n' || (header.line_end == 2 && line[line_bytes - 2] != '\r') ||
          (parse ? ParseRecordV3(line, length, containers, containers, network, &record) != 0
                 : !RecordV3Valid(line, length, containers, containers, network))) {
        *bad_slot = slot;
        rc = kPrjFailed;
        break;
      }
      used += static_cast<size_t>(line_bytes);
      if (parse) each(record, slot);
    }
    // A complete last record without its line end (an editor dropped it) is a
    // record. A shorter last line is an append under way in another process,
    // or one a crash cut short; the next append writes its slot whole again.
    // Either way it holds no record yet.
    const char* last = buf.get() + used;
    if (rc == kPrjOk && eof && have_header && UnterminatedRecord(last, have - used, length, header.line_end) &&
        (!wanted || wanted(last)) && ParseRecordV3(last, length, containers, containers, network, &record) == 0)
      each(record, ++slot);
  }
  if (rc == kPrjOk && !have_header) rc = kPrjFailed;
  return rc;
}

}  // namespace dovrane::extlib

// Reading project.dat in any of its layouts, for the version check and the
// conversion: the header with its checks, and one record line at a time in
// the version 3 or the version 1/2 layout. Records are streamed; the file is
// read sequentially through a buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extlib/records/administration.h"
#include "extlib/records/prj_record.h"

namespace dovrane::platform {
class Env;
}

namespace dovrane::extlib {
class OperationContext;
}  // namespace dovrane::extlib

namespace dovrane::admin {

struct AdministrationHeader {
  int version = 0;        // as read; above 3 stays readable for the version check
  uint32_t highest = 0;   // 0 when the number text was bad
  int line_end = 1;       // 1: LF, 2: CR LF
  int user_words = 0;     // containers the records on disk carry
  // The installation as the readers need it, taken once when the file is opened.
  int containers_now = 1;
  bool network = true;
};

// Sharing of the open file towards other processes, as byte-range locks on the
// whole file: deny write keeps record writers out (and is refused while one
// holds a record lock), deny read and write keeps every locker out.
enum class ShareMode { kDenyNone, kDenyWrite, kDenyReadWrite };
// How long an open waits for another process's lock before the sharing is refused.
inline constexpr int kShareLockTimeoutMs = 2000;

// What the open answers instead of a file: not project codes.
inline constexpr int kHeaderUnusable = -1;  // missing, unreadable or not a header
inline constexpr int kHeaderShareRefused = -2;

// Opens the administration (Windows or native path), checks the header and,
// for version 3, measures the first record line. Returns the open file
// positioned at the first record, or kHeaderUnusable (the file is closed
// again); kHeaderShareRefused when another process holds a lock.
[[nodiscard]] int OpenAdministrationHeader(extlib::OperationContext& ctx, const std::string& path, ShareMode share,
                                           AdministrationHeader* header);

// Sequential, buffered reading of one opened administration file (not owned).
class RecordStream {
 public:
  // Longer lines are cut here (and so never match a layout).
  static constexpr size_t kMaxLineBytes = 1024;
  // Reads fd through env, which must outlive the stream.
  RecordStream(platform::Env& env, int fd);
  // The next line up to and without its LF. 0 read (*ended: an LF was found),
  // 1 end of file, negative read error.
  [[nodiscard]] int NextLine(std::string* line, bool* ended);
  // 1-based slot of the line read last.
  long slot() const { return slot_; }

 private:
  platform::Env& env_;
  int fd_;
  std::vector<char> buf_;
  size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
  long slot_ = 0;
};

// The record readers answer as the library's record reader does.
using enum extlib::RecordRead;

// One version 3 record, a RecordRead. Members of containers beyond the
// installation's are dropped, the owner's bit is set.
[[nodiscard]] int ReadRecordV3(RecordStream& in, const AdministrationHeader& header, extlib::PRJ* record);
// One version 1/2 record, with the project version read from the project's
// version.txt (DOS texts converted for versions below 18). Codes as above.
[[nodiscard]] int ReadRecordV12(extlib::OperationContext& ctx, RecordStream& in, const AdministrationHeader& header,
                                extlib::PRJ* record);

// The record's texts (name, host) from DOS text to Windows-1252.
void sys_AsciiText2Iso(extlib::PRJ* record);

}  // namespace dovrane::admin

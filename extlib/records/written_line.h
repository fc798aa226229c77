// A fast test for record lines exactly as this program writes them: digits
// without blanks, ';' between the fields, "n" before the number, no control
// character (NUL, a line end, ESC, DEL, ...) in the name or host, no NUL as
// the status. Such a line is valid, so a reader that only needs a few of its
// fields (the list) takes them straight from the text. Every other line,
// valid or not, goes the general way (ParseRecordV3), which stays the one
// judge of validity.
#pragma once

#include <cstddef>
#include <cstdint>

#include "extlib/records/prj_record.h"
#include "extlib/records/record_layout.h"

namespace dovrane::extlib {

// The fields a list shows, taken from a line in the written form.
struct WrittenFields {
  const char* name;    // blank-padded on the right, as in the line
  size_t name_length;  // without the padding
  bool name_ascii;     // no character beyond ASCII in the name
  const char* number;  // 8 characters, "n" and 7 digits (nullptr: none)
  const char* host;
  size_t host_length;
  bool host_ascii;
  unsigned char status;  // the status character
  const char* version;   // 2 digits
  const char* key;       // 10 digits, at most 4294967295
};

class WrittenLineCheck {
 public:
  // The checks run on blocks of 32 bytes where the processor has them
  // (AVX2), else of 16 (SSE2), else byte by byte. A narrower way may be
  // asked for: every build can run (and its tests compare) all the ways it
  // has, the byte-by-byte one included.
  enum class Blocks { kWidest, k16, k1 };

  // For version 3 lines of an administration with user_words container
  // words, read by an installation with containers_now containers.
  WrittenLineCheck(int user_words, int containers_now, bool network, Blocks blocks = Blocks::kWidest);

  // False where lines have no written form worth testing (a single-user
  // installation: its records carry no host).
  bool usable() const { return usable_; }
  size_t length() const { return length_; }
  // The bytes Read takes at a time: 32, 16 or 1.
  size_t block() const { return block_; }

  // True when line (length() bytes, line end not included) is in the written
  // form, with its fields in *fields; then ParseRecordV3 accepts it. Reads
  // nothing past the line.
  bool Read(const char* line, WrittenFields* fields) const {
    if (!usable_) return false;
    if (block_ == 32) return Read32(line, fields);
    return block_ == 16 ? Read16(line, fields) : Read1(line, fields);
  }

 private:
  static constexpr size_t kBlock = 16;
  static constexpr size_t kMaxLength =
      (static_cast<size_t>(layout::V3LineLength(kMaxUserContainers)) + kBlock - 1) / kBlock * kBlock;

  bool Read32(const char* line, WrittenFields* fields) const;
  bool Read16(const char* line, WrittenFields* fields) const;
  bool Read1(const char* line, WrittenFields* fields) const;

  bool usable_ = false;
  size_t block_ = 1;
  size_t length_ = 0;
  // Per position of the line, the bytes allowed there: after or-ing fold_
  // and taking lo_ away, at most span_ (unsigned); at hex_ positions a
  // decimal digit too; at plain_ positions no '@'.
  alignas(16) uint8_t fold_[kMaxLength] = {};
  alignas(16) uint8_t lo_[kMaxLength] = {};
  alignas(16) uint8_t span_[kMaxLength] = {};
  alignas(16) uint8_t hex_[kMaxLength] = {};
  alignas(16) uint8_t plain_[kMaxLength] = {};
};

}  // namespace dovrane::extlib

// Reading and writing single lines of the project administration in the
// layouts of extlib/record_layout.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "extlib/records/prj_record.h"

namespace dovrane::extlib {

struct AdminHeader {
  int version = 0;        // as read, even when not 1..3
  uint32_t highest = 0;   // 0 when the number text is bad
  int line_end = 2;       // 1: LF, 2: CR LF
  int user_words = 0;     // containers the records on disk carry
};

// What the line parsers below answer: not project codes.
inline constexpr int kLineParsed = 0;
inline constexpr int kLineBad = -1;

// The header line with its line end.
std::string FormatHeader(int version, uint32_t highest, int line_end);
// Parses the first bytes of the file (at least 11; 12 are read normally):
// version, line end and highest number. 0 when the version is 1..3 and the
// number valid; -1 otherwise (the version stays readable in *header).
[[nodiscard]] int ParseHeaderBytes(const char* bytes, size_t n, AdminHeader* header);

// Version 3 line for `containers` user containers, without line end. False
// when a field does not fit (name or host with "@", owner above 999, number
// above 9999999).
bool FormatRecordV3(const PRJ& record, int containers, std::string* line);
// Parses a version 3 line of exactly V3LineLength(user_words) characters.
// containers_now is the installation's container count, network whether it
// is a network installation (else owner 0, host "localhost"). Members beyond
// the stored containers are cleared; the owner's bit is set. 0 or -1.
[[nodiscard]] int ParseRecordV3(const char* line, size_t length, int user_words, int containers_now,
                  bool network, PRJ* record);
// Whether ParseRecordV3 would read the line, without filling a record.
bool RecordV3Valid(const char* line, size_t length, int user_words, int containers_now, bool network);

// The file ends after n bytes of a line whose record is `length` characters:
// true when the record is complete and only its line end (or, with CR LF, its
// LF) is missing, as when an editor drops the last line end. A shorter last
// line is an append a crash cut short and holds no record.
bool UnterminatedRecord(const char* tail, size_t n, size_t length, int line_end);

// Version 1/2 line (135 characters, no line end); members beyond 16 bytes are dropped.
bool FormatRecordV12(const PRJ& record, std::string* line);
// Parses the 135 characters of a version 1/2 line; version stays 0. 0 or -1.
[[nodiscard]] int ParseRecordV12(const char* line, size_t length, int containers_now, bool network,
                   PRJ* record);

}  // namespace dovrane::extlib

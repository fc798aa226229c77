// The project record PRJ: the in-memory form of one line of the project
// administration, as the library's callers fill and read it.
#pragma once

#include <cstdint>
#include <string>

#include "extlib/projects/project_code.h"

namespace dovrane::extlib {

// At most 992 users: 31 containers of 32 users (4 bitmap bytes) each.
inline constexpr int kMaxUserContainers = 31;
inline constexpr int kUsersPerContainer = 32;
inline constexpr int kNameLength = 50;
inline constexpr int kHostLength = 16;
inline constexpr uint32_t kMaxProjectNumber = 9999999;
// The project version a new project gets (version.txt); stored versions are 0..20.
inline constexpr int kCurrentProjectVersion = 20;

// Status character: 32 plus these bits.
inline constexpr unsigned char kStatusBlank = 32;
inline constexpr unsigned char kStatusProjectOut = 0x01;
inline constexpr unsigned char kStatusHostOut = 0x04;
inline constexpr unsigned char kStatusPlainName = 0x08;
inline constexpr unsigned char kStatusLink = 0x20;
inline constexpr unsigned char kStatusKnownBits = kStatusProjectOut | kStatusHostOut | kStatusPlainName | kStatusLink;

// The flag bits of a status character: the character minus the blank, known
// bits only (a character below the blank has none). The link bit 0x20 of the
// flags is 0x40 of the character, so it cannot be OR-ed into the blank.
inline unsigned char StatusFlags(unsigned char status) {
  return status < kStatusBlank ? 0 : static_cast<unsigned char>((status - kStatusBlank) & kStatusKnownBits);
}

// The status character of flag bits: the blank plus the known bits.
unsigned char StatusCharacter(unsigned char flags);

// A value type: the member bitmap is held in the record (4 bytes per container,
// room for the most containers an installation can have) so records copy safely.
struct PRJ {
  char name[kNameLength + 1] = {};  // blank-padded, zero-terminated; "#" first: deleted
  char host[kHostLength + 1] = {};  // zero-terminated
  unsigned char status = kStatusBlank;
  unsigned char version = 0;
  uint32_t number = 0;
  uint32_t dbkey = 0;
  int32_t begin = 0;
  uint32_t owner = 0;  // 1-based user index, 0: none
  unsigned char members[4 * kMaxUserContainers] = {};
};

// The null record: record 0, the administration's version and highest number.
struct NullRecord {
  int32_t version = 3;
  char highest[12] = {};  // "n%.7u"; any other length counts as 0
};

// Fills a record's name with text, blank-padded to 50 (longer text is cut).
void SetPrjName(PRJ* record, const std::string& text);
void SetPrjHost(PRJ* record, const std::string& text);
// The name without trailing blanks.
std::string TrimmedName(const char* padded);
// The length of text without its trailing blanks.
size_t TrimmedLength(const char* text, size_t size);
// text blank-padded to 50 characters (cut at 50).
std::string PadName(const std::string& text);

// A deleted record's name begins with this mark.
inline constexpr char kDeletedMark = '#';
bool IsDeleted(const PRJ& record);
// A checked-out project is worked on elsewhere: -18 with its host, -22
// alone, else 0. Erase, move and rename refuse it.
inline int CheckedOutCode(const PRJ& record) {
  const unsigned char flags = StatusFlags(record.status);
  return (flags & kStatusHostOut) ? kPrjCheckedOutWithHost : (flags & kStatusProjectOut) ? kPrjCheckedOut : kPrjOk;
}
bool MemberBit(const PRJ& record, uint32_t user);
void SetMemberBit(PRJ* record, uint32_t user, bool on);

// "n%.7u" for numbers up to 9999999, "" otherwise.
std::string NumberText(uint32_t number);
// The same eight characters written at out (no terminator); false, writing
// nothing, for a number beyond 9999999.
inline constexpr size_t kNumberTextLength = 8;
bool PutNumberText(uint32_t number, char* out);
// Parses exactly "n" and seven digits (upper-case "N" accepted) into *number.
bool ParseNumberText(const std::string& text, uint32_t* number);
bool ParseNumberText(const char* text, size_t size, uint32_t* number);
// The highest number of a null record, 0 when its text is not valid.
uint32_t NullRecordHighest(const NullRecord& null_record);
void SetNullRecordHighest(NullRecord* null_record, uint32_t number);

// A name that can be stored and used as a folder name: no control characters,
// no "@" (the field end), "%", "\", "/", ":", "*", "?", no "..", not only blanks,
// not beginning with "#" (deleted) or a blank. Windows-1252 text, padded or not.
bool IsValidProjectName(const std::string& name);
// name (trailing blanks aside) made valid for IsValidProjectName: every
// character it refuses, each "." of "..", and a first "#" or blank become "_";
// cut at 50. "" when nothing but blanks is left.
std::string SafeProjectName(const std::string& name);
// A host name: 1-16 characters of letters, digits, "-", "_" and ".", not "." or "..".
bool IsValidHostName(const std::string& host);

}  // namespace dovrane::extlib

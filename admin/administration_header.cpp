#include "admin/administration_header.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "admin/project_version.h"
#include "extlib/installation/hosts.h"
#include "extlib/installation/language.h"
#include "extlib/installation/library_init.h"
#include "extlib/installation/operation_context.h"
#include "extlib/installation/slot_files.h"
#include "extlib/installation/users.h"
#include "extlib/projects/project_paths.h"
#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"
#include "platform/env.h"
#include "platform/file_util.h"
#include "platform/path_map.h"

namespace dovrane::admin {

namespace L = extlib::layout;
using extlib::PRJ;
using platform::CurrentEnv;

namespace {

void SetOwnerBit(PRJ* record, int containers) {
  if (record->owner != 0 && record->owner <= 32u * static_cast<uint32_t>(containers))
    extlib::SetMemberBit(record, record->owner, true);
}

void SetLocal(PRJ* record) {
  record->owner = 0;
  extlib::SetPrjHost(record, "localhost");
}

std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The line without its line end; false when the line end is not the header's.
bool StripLineEnd(const AdministrationHeader& header, std::string* line, bool ended) {
  if (header.line_end == 2) {
    if (!ended || line->empty() || line->back() != '\r') return false;
    line->pop_back();
  }
  return ended;
}

}  // namespace

int OpenAdministrationHeader(extlib::OperationContext& ctx, const std::string& path, ShareMode share,
                             AdministrationHeader* header) {
  *header = AdministrationHeader{};
  header->containers_now = extlib::lzuGetCountOfUserContainers();
  header->network = extlib::lfnetg(ctx) != 0;
  platform::Env* env = &ctx.Env();
  // A lock that keeps writers out needs a description open for writing.
  const int access = share == ShareMode::kDenyNone || share == ShareMode::kDenyWrite ? O_RDONLY : O_RDWR;
  const std::string native = ctx.Native(path);
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 50; ++attempt) {
    fd = platform::OpenRegularFile(native, access);
    if (fd < 0) return kHeaderUnusable;
    if (share == ShareMode::kDenyNone) break;
    const platform::LockMode mode =
        share == ShareMode::kDenyWrite ? platform::LockMode::kShared : platform::LockMode::kExclusive;
    if (env->Lock(fd, 0, 0, mode, kShareLockTimeoutMs) != 0) {
      platform::CloseNothingPending(env, fd);
      return kHeaderShareRefused;
    }
    // Whoever held the file until now may have renamed a new one into its
    // place (a conversion does): that one is the administration.
    if (!platform::IsFileAtPath(fd, native)) {
      platform::CloseNothingPending(env, fd);
      fd = -1;
    }
  }
  if (fd < 0) return kHeaderShareRefused;
  auto fail = [&](int rc) {
    platform::CloseNothingPending(env, fd);
    return rc;
  };
  char bytes[13] = {};
  if (env->PRead(fd, bytes, 12, 0) != 12) return fail(kHeaderUnusable);
  bytes[11] = '\0';
  if (std::sscanf(bytes, "%2d", &header->version) != 1) header->version = 0;
  if (header->version < 1 || header->version > 3) return fail(kHeaderUnusable);
  header->line_end = std::memchr(bytes, '\r', 11) ? 2 : 1;
  // The header is exactly ten characters: a longer number ("n10000000") leaves
  // no line end at byte 10 and is refused.
  const bool ends = bytes[10] == (header->line_end == 2 ? '\r' : '\n');
  bytes[10] = '\0';
  uint32_t number = 0;
  if (!ends || !extlib::ParseNumberText(std::string(bytes + 2, 8), &number)) {
    header->highest = 0;
    return fail(kHeaderUnusable);
  }
  header->highest = number;
  const int64_t first = L::kHeaderText + header->line_end;
  if (header->version < 3) {
    header->user_words = 4;
  } else {
    char probe[L::kV3ProbeBytes];
    int64_t n = env->PRead(fd, probe, sizeof probe, first);
    // An administration without a record yet (just created, or a restore that
    // stopped before its first record) fits any number of user containers;
    // refusing it would leave an installation that no update can open.
    const char* found =
        n > 0 ? static_cast<const char*>(std::memchr(probe, header->line_end == 2 ? '\r' : '\n', static_cast<size_t>(n)))
              : nullptr;
    // The same holds for a first line that a crash cut short while it was appended.
    const bool torn_first = !found && n > 0 && n < L::V3LineLength(header->containers_now) + header->line_end;
    if (n == 0 || torn_first) {
      header->user_words = header->containers_now;
    } else {
    if (n < L::kV3ShortLength + header->line_end) return fail(kHeaderUnusable);
    if (!found) return fail(kHeaderUnusable);
    // Only a length some container count gives is a layout, as for the
    // library's reader: any other (107 to 113 characters, a part container, a
    // line end of the other kind in between) would convert every record away.
    header->user_words = L::V3ContainersOfLength(found - probe);
    if (header->user_words == L::kNoContainerCount) {
      header->user_words = 0;
      return fail(kHeaderUnusable);
    }
    }
  }
  if (env->Seek(fd, first, SEEK_SET) != first) return fail(kHeaderUnusable);
  return fd;
}

RecordStream::RecordStream(platform::Env& env, int fd) : env_(env), fd_(fd), buf_(1 << 16) {}

int RecordStream::NextLine(std::string* line, bool* ended) {
  line->clear();
  *ended = false;
  for (;;) {
    if (pos_ == end_) {
      if (eof_) break;
      int64_t n = env_.Read(fd_, buf_.data(), buf_.size());
      if (n < 0) return static_cast<int>(n);
      if (n == 0) {
        eof_ = true;
        break;
      }
      pos_ = 0;
      end_ = static_cast<size_t>(n);
    }
    const char* start = buf_.data() + pos_;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', end_ - pos_));
    size_t take = lf ? static_cast<size_t>(lf - start) : end_ - pos_;
    // A damaged file without line ends is passed through, not held in memory:
    // a line longer than any layout's is bad whatever follows.
    line->append(start, std::min(take, kMaxLineBytes + 1 - std::min(line->size(), kMaxLineBytes + 1)));
    pos_ += take;
    if (lf) {
      ++pos_;
      *ended = true;
      break;
    }
  }
  if (!*ended && line->empty()) return 1;
  ++slot_;
  return 0;
}

int ReadRecordV3(RecordStream& in, const AdministrationHeader& header, PRJ* record) {
  const size_t length = static_cast<size_t>(L::V3LineLength(header.user_words));
  std::string line;
  bool ended = false;
  int rc = in.NextLine(&line, &ended);
  if (rc == 1) return kRecordEnd;
  if (rc) return rc;
  if (!ended) {
    // A complete last record whose line end an editor dropped is a record;
    // a shorter last line is an append a crash cut short.
    if (!extlib::UnterminatedRecord(line.data(), line.size(), length, header.line_end)) return kRecordBad;
    line.resize(length);
  } else if (!StripLineEnd(header, &line, ended) || line.size() != length) {
    return kRecordLineEndMisplaced;
  }
  // A line as the library writes it reads at fixed offsets; any other goes
  // through the tolerant scan below (separators of any kind, short fields).
  if (extlib::ParseRecordV3(line.data(), line.size(), header.user_words, header.containers_now, header.network,
                            record) == 0)
    return kRecordRead;
  *record = PRJ{};
  char name[L::kNameWidth + 1] = {}, number_text[16] = {};
  unsigned long version = 0, key = 0;
  unsigned begin = 0;
  char status = ' ';
  const std::string head = line.substr(0, L::kV3ShortLength);
  int fields = std::sscanf(head.c_str(), "%50[^@]%*1s%8s%*1s%2lu%*1s%c%*1s%10lu%*1s%8X", name, number_text,
                           &version, &status, &key, &begin);
  uint32_t number = 0;
  if (fields < 6 || !extlib::ParseNumberText(number_text, &number))
    return kRecordBad;
  extlib::SetPrjName(record, name);
  record->number = number;
  record->version = static_cast<unsigned char>(version);
  record->status = static_cast<unsigned char>(status);
  record->dbkey = static_cast<uint32_t>(key);
  record->begin = static_cast<int32_t>(begin);
  if (!header.network || header.user_words == 0) {
    SetLocal(record);
    return kRecordRead;
  }
  char host[L::kHostWidth + 1] = {};
  unsigned long owner = 0;
  if (std::sscanf(line.c_str() + L::kV3Host, "%16[^@]%*1s%3lu", host, &owner) != 2) return kRecordBad;
  extlib::SetPrjHost(record, Trim(host));
  record->owner = static_cast<uint32_t>(owner);
  const int containers = header.containers_now;
  const int bytes = 4 * std::min(header.user_words, containers);
  for (int i = 0; i < bytes; ++i) {
    unsigned value = 0;
    char pair[3] = {line[L::kV3Members + 2 * i], line[L::kV3Members + 2 * i + 1], 0};
    if (std::sscanf(pair, "%2X", &value) != 1) return kRecordBad;
    record->members[i] = static_cast<unsigned char>(value);
  }
  SetOwnerBit(record, containers);
  return kRecordRead;
}

void sys_AsciiText2Iso(PRJ* record) {
  extlib::AsciiText2IsoInPlace(record->name);
  extlib::AsciiText2IsoInPlace(record->host);
}

int ReadRecordV12(extlib::OperationContext& ctx, RecordStream& in, const AdministrationHeader& header, PRJ* record) {
  std::string line;
  bool ended = false;
  int rc = in.NextLine(&line, &ended);
  if (rc == 1) return kRecordEnd;
  if (rc) return rc;
  if (header.line_end == 2 && !line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() != static_cast<size_t>(L::kV12LineLength)) return kRecordBad;
  *record = PRJ{};
  char name[L::kNameWidth + 1] = {}, host[L::kHostWidth + 1] = {}, number_text[16] = {};
  unsigned long owner = 0, key = 0;
  unsigned m[16] = {}, begin = 0;
  char status = ' ';
  int fields = std::sscanf(
      line.c_str(),
      "%50[^@]%*1s%16s%*1s%8s%*1s%3lu%*1s%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%2X%*1s%c%*1s%10lu%*1s%8X",
      name, host, number_text, &owner, &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7], &m[8], &m[9],
      &m[10], &m[11], &m[12], &m[13], &m[14], &m[15], &status, &key, &begin);
  uint32_t number = 0;
  if (fields != 23 || !extlib::ParseNumberText(number_text, &number))
    return kRecordBad;
  extlib::SetPrjName(record, name);
  record->number = number;
  record->status = static_cast<unsigned char>(status);
  record->dbkey = static_cast<uint32_t>(key);
  record->begin = static_cast<int32_t>(begin);
  if (header.network) {
    extlib::SetPrjHost(record, host);
    record->owner = static_cast<uint32_t>(owner);
    const int containers = header.containers_now;
    for (int i = 0; i < 4 * std::min(containers, 4); ++i) record->members[i] = static_cast<unsigned char>(m[i]);
    SetOwnerBit(record, containers);
  } else {
    SetLocal(record);
  }
  // The project version lives in the project's folder.
  std::string dir;
  if (extlib::make_prj_dir(ctx, *record, &dir) != 0) return kRecordRead;
  int value = 0;
  const bool read = ReadProjectVersion(ctx, extlib::kSlotConversion, dir, &value);
  // Old projects hold DOS text. A version 1 record is DOS text as a whole and
  // is converted by the caller: converting it here as well would do it twice.
  if (read && value < 18 && header.version != 1) sys_AsciiText2Iso(record);
  record->version = static_cast<unsigned char>(read && value >= 0 && value <= 20 ? value : 0);
  return kRecordRead;
}

}  // namespace dovrane::admin

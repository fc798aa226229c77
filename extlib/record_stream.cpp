#include "extlib/record_stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "extlib/project_code.h"
#include "extlib/record_layout.h"
#include "extlib/record_line.h"
#include "extlib/written_line.h"
#include "platform/env.h"
#include "platform/mapped_file.h"

namespace dovrane::extlib {

namespace L = layout;

namespace {

// The read buffer of a run. 64 KiB: checked while still in the processor's
// cache (a megabyte read at once made a list of 100,000 records 30% slower).
// Not zero-filled: only what the file fills is touched.
constexpr size_t kChunk = size_t{1} << 16;
// From this size on a file is read where it lies in the page cache (see
// MappedFile): its records are checked without being copied first. A
// smaller one is copied sooner than it is mapped.
constexpr int64_t kMapFrom = int64_t{4} * static_cast<int64_t>(kChunk);

// What a thread reads with, kept from piece to piece.
struct RunMemory {
  std::unique_ptr<char[]> chunk = std::make_unique_for_overwrite<char[]>(kChunk);
  std::vector<WrittenFields> batch;
};

// What every run of a read shares.
struct Stream {
  platform::Env* env;
  int fd;
  int containers;
  bool network;
  size_t length;  // of a record line without its line end
  int line_end;
  long line_bytes;
  const char* map;  // the file's bytes, or null: read with PRead
  int64_t map_size;
};

// Records [first, last] from byte offset on; last 0: up to the end of the
// file, where a last record that lost its line end is still a record.
int ReadRun(const Stream& s, int64_t offset, long first, long last, const RecordSink& sink, long* bad_slot,
            RunMemory* memory) {
  *bad_slot = 0;
  char* const buf = memory->chunk.get();
  const char* data = buf;
  // The fields are read straight into the batch (read into a local and
  // copied, they stalled the copy on the fresh stores).
  std::vector<WrittenFields>& batch = memory->batch;
  size_t batched = 0;
  long batch_first = 0;
  auto flush = [&] {
    if (batched > 0) sink.written(batch.data(), batched, batch_first);
    batched = 0;
  };
  // The written form is tested where it saves work: for a list (no parse at
  // all) and for a lookup (most lines are only checked). A read that parses
  // every line would only add the test to the parse.
  const bool test_written = sink.written || sink.wanted;
  const WrittenLineCheck check(test_written ? s.containers : 0, s.containers, s.network);
  size_t have = 0, used = 0;
  long slot = first - 1;
  int rc = kPrjOk;
  PRJ record;
  WrittenFields fields;
  for (bool eof = false; rc == kPrjOk && !eof && (last == 0 || slot < last);) {
    if (s.map) {
      // The whole run at once, where it lies.
      data = s.map + offset;
      have = offset < s.map_size ? static_cast<size_t>(s.map_size - offset) : 0;
      if (last != 0) have = std::min(have, static_cast<size_t>(last - slot) * static_cast<size_t>(s.line_bytes));
      eof = true;
    } else {
      // What is left of the last chunk (less than a line) moves to the front;
      // the file is read straight behind it.
      std::memmove(buf, buf + used, have - used);
      have -= used;
      used = 0;
      size_t want = kChunk - have;
      // A run that ends before the file's end reads no further than its records.
      if (last != 0) want = std::min(want, static_cast<size_t>(last - slot) * static_cast<size_t>(s.line_bytes) - have);
      const int64_t n = s.env->PRead(s.fd, buf + have, want, offset);
      if (n > 0) {
        have += static_cast<size_t>(n);
        offset += n;
      }
      if (n < 0) rc = kPrjFailed;
      if (n <= 0) eof = true;
    }
    // Room for every line of what was read, and one to read into.
    if (sink.written && batch.size() < have / static_cast<size_t>(s.line_bytes) + 1)
      batch.resize(have / static_cast<size_t>(s.line_bytes) + 1);
    while (rc == kPrjOk && have - used >= static_cast<size_t>(s.line_bytes) && (last == 0 || slot < last)) {
      ++slot;
      const char* line = data + used;
      const bool ends = line[s.line_bytes - 1] == '\n' && (s.line_end == 1 || line[s.line_bytes - 2] == '\r');
      WrittenFields* into = sink.written ? &batch[batched] : &fields;
      if (ends && check.Read(line, into)) {
        used += static_cast<size_t>(s.line_bytes);
        if (sink.wanted && !sink.wanted(line)) {
          flush();  // a batch holds consecutive slots
          continue;
        }
        if (sink.written) {
          if (batched++ == 0) batch_first = slot;
        } else if (ParseRecordV3(line, s.length, s.containers, s.containers, s.network, &record) == 0) {
          sink.each(record, slot);  // a line in the written form always parses
        }
        continue;
      }
      flush();  // the lines before this one go first
      const bool parse = !sink.wanted || sink.wanted(line);
      if (!ends || (parse ? ParseRecordV3(line, s.length, s.containers, s.containers, s.network, &record) != 0
                          : !RecordV3Valid(line, s.length, s.containers, s.containers, s.network))) {
        *bad_slot = slot;
        rc = kPrjFailed;
        break;
      }
      used += static_cast<size_t>(s.line_bytes);
      if (parse) sink.each(record, slot);
    }
    flush();  // the fields point into the chunk, which the next read overwrites
    if (rc != kPrjOk || !eof) continue;
    if (last != 0) {
      // The file ended inside a run that is not the last: it was cut short
      // while being read.
      if (slot < last) {
        *bad_slot = slot + 1;
        rc = kPrjFailed;
      }
      break;
    }
    // A complete last record without its line end (an editor dropped it) is a
    // record. A shorter last line is an append under way in another process,
    // or one a crash cut short; the next append writes its slot whole again.
    // Either way it holds no record yet.
    const char* tail = data + used;
    if (UnterminatedRecord(tail, have - used, s.length, s.line_end) && (!sink.wanted || sink.wanted(tail)) &&
        ParseRecordV3(tail, s.length, s.containers, s.containers, s.network, &record) == 0)
      sink.each(record, ++slot);
  }
  return rc;
}

// Reads and checks the header; the stream's shape from it.
int ReadHeader(platform::Env* env, int fd, int containers, uint32_t* highest, Stream* s) {
  char text[12];
  size_t have = 0;
  while (have < sizeof text) {
    const int64_t n = env->PRead(fd, text + have, sizeof text - have, static_cast<int64_t>(have));
    if (n < 0) return kPrjFailed;
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  AdminHeader header;
  if (ParseHeaderBytes(text, have, &header) != 0 || header.version != L::kCurrentVersion) return kPrjFailed;
  *highest = header.highest;
  s->length = static_cast<size_t>(L::V3LineLength(containers));
  s->line_end = header.line_end;
  s->line_bytes = static_cast<long>(s->length) + header.line_end;
  return kPrjOk;
}

}  // namespace

int ReadRecordStreamInPieces(int fd, int containers, bool network, uint32_t* highest, long* bad_slot,
                             const std::vector<RecordSink>& sinks) {
  *bad_slot = 0;
  Stream s{platform::CurrentEnv(), fd, containers, network, 0, 0, 0, nullptr, 0};
  if (int rc = ReadHeader(s.env, fd, containers, highest, &s); rc != kPrjOk) return rc;
  const int64_t start = L::kHeaderText + s.line_end;
  platform::FileInfo info;
  const int64_t size = s.env->FStat(fd, &info) == 0 ? static_cast<int64_t>(info.size) : 0;
  const int64_t records = std::max<int64_t>(0, (size - start) / s.line_bytes);
  // Mapped, the file is read as large as it was here; records appended from
  // now on are after this read, as if they had come a moment later.
  std::optional<platform::MappedFile> mapped;
  if (size >= kMapFrom) {
    mapped.emplace(fd, static_cast<size_t>(size));
    s.map = mapped->data();
    s.map_size = size;
  }
  // A piece is a chunk of records, read at once by one thread. Idle threads
  // take the next piece, so a thread that starts late (a busy machine) only
  // leaves more pieces to the others. Piece i reads records from
  // 1 + i * per_piece on; the last one reads on to the end of the file, which
  // may have grown meanwhile.
  const int64_t per_piece = std::max<int64_t>(1, static_cast<int64_t>(kChunk) / s.line_bytes - 1);
  const size_t pieces = static_cast<size_t>(std::max<int64_t>(1, records / per_piece));
  const size_t workers = std::min(sinks.size(), pieces);
  std::vector<long> bad(pieces);
  std::vector<int> rc(pieces, kPrjOk);
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::vector<std::exception_ptr> thrown(workers);
  auto work = [&](size_t worker) {
    try {
      RunMemory memory;
      for (size_t i; !failed && (i = next.fetch_add(1)) < pieces;) {
        const long first = static_cast<long>(1 + static_cast<int64_t>(i) * per_piece);
        const long last = i + 1 == pieces ? 0 : first + static_cast<long>(per_piece) - 1;
        if (sinks[worker].piece) sinks[worker].piece(first);
        rc[i] = ReadRun(s, start + (first - 1) * s.line_bytes, first, last, sinks[worker], &bad[i], &memory);
        if (rc[i] != kPrjOk) failed = true;
      }
    } catch (...) {
      thrown[worker] = std::current_exception();  // out of memory: handed to the caller's thread
      failed = true;
    }
  };
  {
    std::vector<std::jthread> threads;
    for (size_t w = 1; w < workers; ++w) {
      try {
        threads.emplace_back([&work, w] { work(w); });
      } catch (const std::system_error&) {
        break;  // no more threads to be had: the others take its pieces
      }
    }
    work(0);
  }  // joined
  for (const std::exception_ptr& e : thrown)
    if (e) std::rethrow_exception(e);
  // Cut short while being read: what was read of it is no record of anything.
  if (mapped && mapped->Cut()) return kPrjFailed;
  // The first damaged record in the file is the one reported.
  for (size_t i = 0; i < pieces; ++i) {
    if (rc[i] != kPrjOk) {
      *bad_slot = bad[i];
      return rc[i];
    }
  }
  return kPrjOk;
}

int ReadRecordStream(int fd, int containers, bool network, uint32_t* highest, long* bad_slot, const RecordSink& sink) {
  return ReadRecordStreamInPieces(fd, containers, network, highest, bad_slot, {sink});
}

int ReadRecordStream(int fd, int containers, bool network, uint32_t* highest, long* bad_slot,
                     const std::function<void(const PRJ& record, long slot)>& each,
                     const std::function<bool(const char* line)>& wanted) {
  return ReadRecordStream(fd, containers, network, highest, bad_slot, RecordSink{each, wanted, {}, {}});
}

}  // namespace dovrane::extlib

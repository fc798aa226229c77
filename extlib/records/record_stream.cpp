#include "extlib/records/record_stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "extlib/projects/project_code.h"
#include "extlib/records/record_layout.h"
#include "extlib/records/record_line.h"
#include "extlib/records/written_line.h"
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
// How far ahead of the line being checked the file is fetched into the cache.
constexpr size_t kPrefetchAhead = 1024;

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

// One run of records [first, last]; last 0: up to the end of the file, where
// a last record that lost its line end is still a record.
class Run {
 public:
  Run(const Stream& s, long first, long last, const RecordSink& sink, long* bad_slot, RunMemory* memory)
      : s_(s),
        last_(last),
        sink_(sink),
        bad_slot_(bad_slot),
        buf_(memory->chunk.get()),
        data_(buf_),
        batch_(memory->batch),
        // The written form is tested where it saves work: for a list (no parse
        // at all) and for a lookup (most lines are only checked). A read that
        // parses every line would only add the test to the parse.
        check_(sink.written || sink.wanted ? s.containers : 0, s.containers, s.network),
        slot_(first - 1) {
    *bad_slot_ = 0;
  }

  // From byte offset on, to the run's end.
  int Read(int64_t offset) {
    for (bool eof = false; rc_ == kPrjOk && !eof && (last_ == 0 || slot_ < last_);) {
      eof = Fill(&offset);
      // Room for every line of what was read, and one to read into.
      const size_t lines = have_ / static_cast<size_t>(s_.line_bytes) + 1;
      if (sink_.written && batch_.size() < lines) batch_.resize(lines);
      TakeLines();
      Flush();  // the fields point into the chunk, which the next read overwrites
      if (rc_ != kPrjOk || !eof) continue;
      End();
      break;
    }
    return rc_;
  }

 private:
  // Makes the next bytes of the run readable at data_; true at the file's
  // (or the run's) end.
  bool Fill(int64_t* offset) {
    if (s_.map) {
      // The whole run at once, where it lies.
      data_ = s_.map + *offset;
      have_ = *offset < s_.map_size ? static_cast<size_t>(s_.map_size - *offset) : 0;
      if (last_ != 0) have_ = std::min(have_, static_cast<size_t>(last_ - slot_) * static_cast<size_t>(s_.line_bytes));
      return true;
    }
    // What is left of the last chunk (less than a line) moves to the front;
    // the file is read straight behind it.
    std::memmove(buf_, buf_ + used_, have_ - used_);
    have_ -= used_;
    used_ = 0;
    size_t want = kChunk - have_;
    // A run that ends before the file's end reads no further than its records.
    if (last_ != 0) want = std::min(want, static_cast<size_t>(last_ - slot_) * static_cast<size_t>(s_.line_bytes) - have_);
    const int64_t n = s_.env->PRead(s_.fd, buf_ + have_, want, *offset);
    if (n > 0) {
      have_ += static_cast<size_t>(n);
      *offset += n;
    }
    if (n < 0) rc_ = kPrjFailed;
    return n <= 0;
  }

  // Every whole line of what was read.
  void TakeLines() {
    while (rc_ == kPrjOk && have_ - used_ >= static_cast<size_t>(s_.line_bytes) && (last_ == 0 || slot_ < last_)) {
      ++slot_;
      const char* line = data_ + used_;
      // The lines a few ahead asked for now: the processor's own prefetch
      // stops at each 4 KiB page, and the check below would wait for memory
      // at every page a piece crosses (never a fault: a prefetch past the
      // data is dropped).
      __builtin_prefetch(line + kPrefetchAhead);
      __builtin_prefetch(line + kPrefetchAhead + 64);
      const bool ends = line[s_.line_bytes - 1] == '\n' && (s_.line_end == 1 || line[s_.line_bytes - 2] == '\r');
      // The fields are read straight into the batch (read into a local and
      // copied, they stalled the copy on the fresh stores).
      WrittenFields* into = sink_.written ? &batch_[batched_] : &fields_;
      if (ends && check_.Read(line, into)) {
        used_ += static_cast<size_t>(s_.line_bytes);
        TakeWritten(line);
        continue;
      }
      Flush();  // the lines before this one go first
      const bool parse = !sink_.wanted || sink_.wanted(line);
      if (!ends || (parse ? ParseRecordV3(line, s_.length, s_.containers, s_.containers, s_.network, &record_) != 0
                          : !RecordV3Valid(line, s_.length, s_.containers, s_.containers, s_.network))) {
        *bad_slot_ = slot_;
        rc_ = kPrjFailed;
        break;
      }
      used_ += static_cast<size_t>(s_.line_bytes);
      if (parse) sink_.each(record_, slot_);
    }
  }

  // A line in the written form, its fields read.
  void TakeWritten(const char* line) {
    if (sink_.wanted && !sink_.wanted(line)) {
      Flush();  // a batch holds consecutive slots
      return;
    }
    if (sink_.written) {
      if (batched_++ == 0) batch_first_ = slot_;
    } else if (ParseRecordV3(line, s_.length, s_.containers, s_.containers, s_.network, &record_) == 0) {
      sink_.each(record_, slot_);  // a line in the written form always parses
    }
  }

  void Flush() {
    if (batched_ > 0) sink_.written(batch_.data(), batched_, batch_first_);
    batched_ = 0;
  }

  // The file's end.
  void End() {
    if (last_ != 0) {
      // The file ended inside a run that is not the last: it was cut short
      // while being read.
      if (slot_ < last_) {
        *bad_slot_ = slot_ + 1;
        rc_ = kPrjFailed;
      }
      return;
    }
    // A complete last record without its line end (an editor dropped it) is a
    // record. A shorter last line is an append under way in another process,
    // or one a crash cut short; the next append writes its slot whole again.
    // Either way it holds no record yet.
    const char* tail = data_ + used_;
    if (UnterminatedRecord(tail, have_ - used_, s_.length, s_.line_end) && (!sink_.wanted || sink_.wanted(tail)) &&
        ParseRecordV3(tail, s_.length, s_.containers, s_.containers, s_.network, &record_) == 0)
      sink_.each(record_, ++slot_);
  }

  const Stream& s_;
  const long last_;
  const RecordSink& sink_;
  long* const bad_slot_;
  char* const buf_;
  const char* data_;
  std::vector<WrittenFields>& batch_;
  const WrittenLineCheck check_;
  size_t batched_ = 0;
  long batch_first_ = 0;
  size_t have_ = 0, used_ = 0;
  long slot_;
  int rc_ = kPrjOk;
  PRJ record_;
  WrittenFields fields_;
};

// Records [first, last] from byte offset on; last 0: up to the end of the
// file, where a last record that lost its line end is still a record.
int ReadRun(const Stream& s, int64_t offset, long first, long last, const RecordSink& sink, long* bad_slot,
            RunMemory* memory) {
  return Run(s, first, last, sink, bad_slot, memory).Read(offset);
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

int ReadRecordStreamInPieces(platform::Env& env, int fd, int containers, bool network, uint32_t* highest,
                             long* bad_slot, const std::vector<RecordSink>& sinks) {
  *bad_slot = 0;
  Stream s{&env, fd, containers, network, 0, 0, 0, nullptr, 0};
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

int ReadRecordStream(platform::Env& env, int fd, int containers, bool network, uint32_t* highest, long* bad_slot,
                     const RecordSink& sink) {
  return ReadRecordStreamInPieces(env, fd, containers, network, highest, bad_slot, {sink});
}

int ReadRecordStream(platform::Env& env, int fd, int containers, bool network, uint32_t* highest, long* bad_slot,
                     const std::function<void(const PRJ& record, long slot)>& each,
                     const std::function<bool(const char* line)>& wanted) {
  return ReadRecordStream(env, fd, containers, network, highest, bad_slot, RecordSink{each, wanted, {}, {}});
}

}  // namespace dovrane::extlib

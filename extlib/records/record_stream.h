// Reading project.dat's records in one sequential pass, a megabyte at a
// time: what the project table, the single-project scan and the list read.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "extlib/records/prj_record.h"
#include "extlib/records/written_line.h"

namespace dovrane::platform {
class Env;
}

namespace dovrane::extlib {

// Where the records of one run of a read go.
struct RecordSink {
  // Each parsed record (deleted ones too) with its slot number.
  std::function<void(const PRJ& record, long slot)> each;
  // May be empty: chooses the lines to parse and hand to each; the others
  // are only checked.
  std::function<bool(const char* line)> wanted;
  // May be empty: lines exactly as this program writes them go here with
  // the fields a list shows, unparsed, instead of to each (see
  // WrittenLineCheck): runs of lines of consecutive slots from first_slot
  // on, as many at once as a chunk of the file holds (a call per line cost
  // a list a tenth of its time).
  std::function<void(const WrittenFields* fields, size_t count, long first_slot)> written;
  // May be empty: called with its first slot before each piece of a read in
  // pieces that this sink is given.
  std::function<void(long first_slot)> piece;
};

// Reads the open administration from its start: the header, then every
// record slot handed to sink. containers: the installation's user
// containers; network: whether it is a network installation. 0, or -1 for
// an unreadable file (*bad_slot: the damaged record, 0 for the header or a
// read error).
[[nodiscard]] int ReadRecordStream(platform::Env& env, int fd, int containers, bool network, uint32_t* highest,
                                   long* bad_slot, const RecordSink& sink);
[[nodiscard]] int ReadRecordStream(platform::Env& env, int fd, int containers, bool network, uint32_t* highest,
                                   long* bad_slot, const std::function<void(const PRJ& record, long slot)>& each,
                                   const std::function<bool(const char* line)>& wanted = {});

// The same read with one thread for each of sinks: a large file is read in
// pieces of records, each piece by whichever thread is free, its records in
// slot order. A sink learns where each of its pieces starts through its
// piece hook. On an error the records of any piece may have been handed on.
[[nodiscard]] int ReadRecordStreamInPieces(platform::Env& env, int fd, int containers, bool network, uint32_t* highest,
                                           long* bad_slot, const std::vector<RecordSink>& sinks);

}  // namespace dovrane::extlib

// Reading project.dat's records in one sequential pass, a megabyte at a
// time: what the project table and the single-project scan both read.
#pragma once

#include <cstdint>
#include <functional>

#include "extlib/prj_record.h"

namespace dovrane::extlib {

// Reads the open administration from its start: the header, then every
// record slot (deleted ones too) handed to each with its slot number.
// containers: the installation's user containers; network: whether it is a
// network installation. 0, or -1 for an unreadable file (*bad_slot: the
// damaged record, 0 for the header or a read error). wanted (may be empty)
// chooses the lines to parse and hand to each; the others are only checked.
int ReadRecordStream(int fd, int containers, bool network, uint32_t* highest, long* bad_slot,
                     const std::function<void(const PRJ& record, long slot)>& each,
                     const std::function<bool(const char* line)>& wanted = {});

}  // namespace dovrane::extlib

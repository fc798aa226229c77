// The check-in report: what a host changed while it was away (projects
// created, renamed, erased or changed there) and every conflict with the
// network administration (a number taken meanwhile, a name used twice),
// resolved as the update resolves it. Kept as a text file in the network's
// \Net ("<HOST>-checkin-<UTC time>.txt") and handed to the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extlib/records/prj_record.h"

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::checkout {

// One line of the report: its kind (the line of its text in the language
// files) and the values put into it.
enum CheckinReportKind : int {
  kReportHostSideGone = 1,
  kReportCreated,
  kReportNotRegistered,
  kReportNumberTaken,
  kReportNumberTakenBy,
  kReportNameTwice,
  kReportRenamed,
  kReportChanged,
  kReportErased,
  kReportErasedFolderStays,
  kReportFromFolder,
};
struct CheckinReportLine {
  int kind = 0;
  std::vector<std::string> values;
  bool operator==(const CheckinReportLine&) const = default;
};

struct CheckinReport {
  std::string host;
  std::string time;                // UTC, "20261207T223000Z"
  std::string file;                // Windows path of the kept text file; "" when it was not written
  std::vector<std::string> lines;  // the changes on the host first, then the conflicts (the file's English)
  std::vector<CheckinReportLine> entries;  // the same lines, for the window to say in its language
};

// The records one report compares. have_host_side: the host's administrations
// (the copy of \Net) could still be read; without them only what the update
// registered anew is listed.
struct CheckinRecords {
  bool have_host_side = false;
  std::vector<extlib::PRJ> out;    // the host's records when it went out (project.dat.chkout)
  std::vector<extlib::PRJ> back;   // the host's records when it comes back (its project.dat)
  std::vector<extlib::PRJ> after;  // the network administration after the update, every host
};

// The lines of the report of host's check-in.
std::vector<CheckinReportLine> CheckinReportEntries(const std::string& host, const CheckinRecords& records);
// The same lines as the kept file words them (English).
std::vector<std::string> CheckinReportLines(const std::string& host, const CheckinRecords& records);
std::string FileReportLine(const CheckinReportLine& line);
// A line in the language of the window.
std::string ShownReportLine(const CheckinReportLine& line);

// The file's text: a heading naming host and time, then the lines (CR LF).
std::string FormatCheckinReport(const CheckinReport& report);
// The file's name in \Net for a host and a time stamp.
std::string CheckinReportName(const std::string& host, const std::string& time);

// Writes the report into the \Net folder net (Windows path), crash-safe,
// and sets report->file. 0 or -errno. Temporaries of this host's reports
// that a check-in cut short left in net go first.
[[nodiscard]] int WriteCheckinReport(extlib::OperationContext& ctx, const std::string& net, CheckinReport* report);

// The report of the last host check-in this process made (empty lines and
// host before the first), for the window to show.
CheckinReport LastCheckinReport();
void SetLastCheckinReport(const CheckinReport& report);

}  // namespace dovrane::checkout

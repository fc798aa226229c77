#include "checkout/checkin_report.h"

#include <cstring>
#include <mutex>
#include <set>

#include "platform/file_util.h"
#include "platform/path_map.h"
#include "platform/text_codec.h"

namespace dovrane::checkout {

namespace {

using extlib::PRJ;

std::string Name(const PRJ& r) { return extlib::TrimmedName(r.name); }
std::string Shown(const PRJ& r) { return "\"" + Name(r) + "\" " + extlib::NumberText(r.number); }

bool OfHost(const PRJ& r, const std::string& host) { return platform::EqualsIgnoreCaseCp1252(r.host, host); }

const PRJ* Find(const std::vector<PRJ>& records, const std::string& host, uint32_t number,
                const std::string& name) {
  for (const PRJ& r : records)
    if (OfHost(r, host) && (number ? r.number == number : Name(r) == name)) return &r;
  return nullptr;
}

// name, or name made unique by the update ("_" appended, or the first
// character replaced by "_" when all 50 are used).
bool UpdatedFormOf(const std::string& registered, const std::string& name) {
  if (registered == name) return true;
  if (registered.size() > name.size() && registered.compare(0, name.size(), name) == 0)
    return registered.find_first_not_of('_', name.size()) == std::string::npos;
  return registered.size() == name.size() && registered[0] == '_' && registered.substr(1) == name.substr(1);
}

// What the host may have changed in a record besides its name; the check-out
// marks are not the project's own.
bool SameContent(const PRJ& a, const PRJ& b) {
  constexpr unsigned char kOut = extlib::kStatusHostOut | extlib::kStatusProjectOut;
  return (a.status & ~kOut) == (b.status & ~kOut) && a.version == b.version && a.dbkey == b.dbkey &&
         a.begin == b.begin && a.owner == b.owner && std::memcmp(a.members, b.members, sizeof a.members) == 0;
}

std::mutex last_mutex;
CheckinReport last;

}  // namespace

std::vector<std::string> CheckinReportLines(const std::string& host, const CheckinRecords& records) {
  std::vector<std::string> lines, conflicts;
  if (!records.have_host_side) {
    lines.push_back("The administration of " + host +
                    " was not there any more: the changes made on the host are not listed.");
    return lines;
  }
  std::set<const PRJ*> accounted;
  for (const PRJ& b : records.back) {
    if (!OfHost(b, host)) continue;
    const PRJ* o = Find(records.out, host, b.number, Name(b));
    const PRJ* a = Find(records.after, host, b.number, Name(b));
    if (!o) {
      lines.push_back("created on " + host + ": " + Shown(b));
      // The update registers the folder: under its number and name when both
      // are free, else with the next free number or a name made unique.
      if (!a || Name(*a) != Name(b)) {
        a = nullptr;
        for (const PRJ& r : records.after)
          if (OfHost(r, host) && !accounted.count(&r) && UpdatedFormOf(Name(r), Name(b)) &&
              !Find(records.out, host, r.number, Name(r)) && (!a || r.number == b.number))
            a = &r;
      }
      if (!a) {
        conflicts.push_back("not registered: " + Shown(b) + " (see the messages of the check-in)");
        continue;
      }
      if (a->number != b.number) {
        std::string by;
        for (const PRJ& r : records.after)
          if (r.number == b.number && &r != a) by = " by \"" + Name(r) + "\" on " + r.host;
        conflicts.push_back("conflict: number " + extlib::NumberText(b.number) + " of \"" + Name(b) +
                            "\" was taken meanwhile" + by + "; registered as " + extlib::NumberText(a->number));
      }
      if (Name(*a) != Name(b))
        conflicts.push_back("conflict: name \"" + Name(b) + "\" is used twice; registered as \"" + Name(*a) + "\"");
      accounted.insert(a);
      continue;
    }
    if (a) accounted.insert(a);
    if (Name(*o) != Name(b)) {
      lines.push_back("renamed on " + host + ": \"" + Name(*o) + "\" to \"" + Name(b) + "\" " +
                      extlib::NumberText(b.number));
      if (a && Name(*a) != Name(b))
        conflicts.push_back("conflict: name \"" + Name(b) + "\" is used twice; registered as \"" + Name(*a) + "\"");
    } else if (!SameContent(*o, b)) {
      lines.push_back("changed on " + host + ": " + Shown(b));
    }
  }
  for (const PRJ& o : records.out) {
    if (!OfHost(o, host) || Find(records.back, host, o.number, Name(o))) continue;
    const PRJ* a = Find(records.after, host, o.number, Name(o));
    if (a) accounted.insert(a);
    lines.push_back("erased on " + host + ": " + Shown(o) + (a ? " (its folder is still there: the record stays)" : ""));
  }
  // Folders the host's administration did not know, found by the update.
  for (const PRJ& r : records.after)
    if (OfHost(r, host) && !accounted.count(&r) && !Find(records.out, host, r.number, Name(r)))
      lines.push_back("registered from the project folder of " + host + ": " + Shown(r));
  lines.insert(lines.end(), conflicts.begin(), conflicts.end());
  return lines;
}

std::string FormatCheckinReport(const CheckinReport& report) {
  std::string text = "Check-in of " + report.host + " at " + report.time + "\r\n\r\n";
  if (report.lines.empty()) text += "Nothing was changed on the host.\r\n";
  for (const std::string& line : report.lines) text += line + "\r\n";
  return text;
}

std::string CheckinReportName(const std::string& host, const std::string& time) {
  return host + "-checkin-" + time + ".txt";
}

int WriteCheckinReport(const std::string& net, CheckinReport* report) {
  const std::string path = net + "\\" + CheckinReportName(report->host, report->time);
  int rc = platform::WriteFileAtomic(platform::NativePath(path), FormatCheckinReport(*report));
  report->file = rc == 0 ? path : "";
  return rc;
}

CheckinReport LastCheckinReport() {
  std::lock_guard<std::mutex> lock(last_mutex);
  return last;
}

void SetLastCheckinReport(const CheckinReport& report) {
  std::lock_guard<std::mutex> lock(last_mutex);
  last = report;
}

}  // namespace dovrane::checkout

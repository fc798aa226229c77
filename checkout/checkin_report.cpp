#include "checkout/checkin_report.h"

#include <cstring>
#include <iterator>
#include <mutex>
#include <set>

#include "extlib/installation/language.h"
#include "extlib/installation/operation_context.h"
#include "platform/env.h"
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

// The lines of the kept file, in English whatever the window speaks: the
// file's format is promised, scripts read it. Indexed by the line kinds.
constexpr const char* kFileLines[] = {
    "",
    "The administration of %1 was not there any more: the changes made on the host are not listed.",
    "created on %1: %2",
    "not registered: %1 (see the messages of the check-in)",
    "conflict: number %1 of \"%2\" was taken meanwhile; registered as %3",
    "conflict: number %1 of \"%2\" was taken meanwhile by \"%3\" on %4; registered as %5",
    "conflict: name \"%1\" is used twice; registered as \"%2\"",
    "renamed on %1: \"%2\" to \"%3\" %4",
    "changed on %1: %2",
    "erased on %1: %2",
    "erased on %1: %2 (its folder is still there: the record stays)",
    "registered from the project folder of %1: %2",
};

std::mutex last_mutex;
CheckinReport last;

}  // namespace

std::vector<CheckinReportLine> CheckinReportEntries(const std::string& host, const CheckinRecords& records) {
  std::vector<CheckinReportLine> lines, conflicts;
  if (!records.have_host_side) {
    lines.push_back({kReportHostSideGone, {host}});
    return lines;
  }
  std::set<const PRJ*> accounted;
  for (const PRJ& b : records.back) {
    if (!OfHost(b, host)) continue;
    const PRJ* o = Find(records.out, host, b.number, Name(b));
    const PRJ* a = Find(records.after, host, b.number, Name(b));
    if (!o) {
      lines.push_back({kReportCreated, {host, Shown(b)}});
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
        conflicts.push_back({kReportNotRegistered, {Shown(b)}});
        continue;
      }
      if (a->number != b.number) {
        const PRJ* by = nullptr;
        for (const PRJ& r : records.after)
          if (r.number == b.number && &r != a) by = &r;
        if (by)
          conflicts.push_back({kReportNumberTakenBy, {extlib::NumberText(b.number), Name(b), Name(*by),
                                                      std::string(by->host), extlib::NumberText(a->number)}});
        else
          conflicts.push_back({kReportNumberTaken, {extlib::NumberText(b.number), Name(b), extlib::NumberText(a->number)}});
      }
      if (Name(*a) != Name(b))
        conflicts.push_back({kReportNameTwice, {Name(b), Name(*a)}});
      accounted.insert(a);
      continue;
    }
    if (a) accounted.insert(a);
    if (Name(*o) != Name(b)) {
      lines.push_back({kReportRenamed, {host, Name(*o), Name(b), extlib::NumberText(b.number)}});
      if (a && Name(*a) != Name(b))
        conflicts.push_back({kReportNameTwice, {Name(b), Name(*a)}});
    } else if (!SameContent(*o, b)) {
      lines.push_back({kReportChanged, {host, Shown(b)}});
    }
  }
  for (const PRJ& o : records.out) {
    if (!OfHost(o, host) || Find(records.back, host, o.number, Name(o))) continue;
    const PRJ* a = Find(records.after, host, o.number, Name(o));
    if (a) accounted.insert(a);
    lines.push_back({a ? kReportErasedFolderStays : kReportErased, {host, Shown(o)}});
  }
  // Folders the host's administration did not know, found by the update.
  for (const PRJ& r : records.after)
    if (OfHost(r, host) && !accounted.count(&r) && !Find(records.out, host, r.number, Name(r)))
      lines.push_back({kReportFromFolder, {host, Shown(r)}});
  lines.insert(lines.end(), conflicts.begin(), conflicts.end());
  return lines;
}

std::vector<std::string> CheckinReportLines(const std::string& host, const CheckinRecords& records) {
  std::vector<std::string> lines;
  for (const CheckinReportLine& line : CheckinReportEntries(host, records)) lines.push_back(FileReportLine(line));
  return lines;
}

std::string FileReportLine(const CheckinReportLine& line) {
  const auto kind = static_cast<size_t>(line.kind);
  if (kind == 0 || kind >= std::size(kFileLines)) return {};
  return extlib::FillPlaceholders(kFileLines[kind], line.values);
}

std::string ShownReportLine(const CheckinReportLine& line) {
  return extlib::LanguageTextWith(extlib::kCheckinReportTexts, line.kind, line.values);
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

namespace {

// "<host>-checkin-<time>.txt.new~<digits>": a report write of the host's
// check-in cut short.
bool ReportTemporaryOf(const std::string& name, const std::string& host) {
  const std::string prefix = host + "-checkin-", tail = ".txt.new~";
  if (name.size() <= prefix.size() + tail.size() ||
      !platform::EqualsIgnoreCaseCp1252(name.substr(0, prefix.size()), prefix))
    return false;
  const size_t at = name.rfind(tail);
  return at != std::string::npos && at >= prefix.size() && platform::IsProcessWorkName(name, name.substr(0, at) + tail);
}

// A host is checked in on the host itself, one check-in at a time, so a
// temporary of its report found now is one a check-in cut short left behind.
// Only regular files of exactly that form go; a link is removed as a link.
void RemoveReportTemporaries(extlib::OperationContext& ctx, const std::string& native_net, const std::string& host) {
  platform::Env* env = &ctx.Env();
  std::vector<platform::DirEntry> entries;
  if (env->ListDir(native_net, &entries) != 0) return;  // the write that follows names the failure
  for (const platform::DirEntry& e : entries) {
    if (!ReportTemporaryOf(e.name, host)) continue;
    const std::string native = native_net + "/" + e.name;
    if (!platform::IsRegularFileNoFollow(native)) continue;
    (void)env->Unlink(native);  // one that stays is looked at again by the next check-in
  }
}

}  // namespace

int WriteCheckinReport(extlib::OperationContext& ctx, const std::string& net, CheckinReport* report) {
  const std::string path = net + "\\" + CheckinReportName(report->host, report->time);
  RemoveReportTemporaries(ctx, ctx.Native(net), report->host);
  int rc = platform::WriteFileAtomic(ctx.Native(path), FormatCheckinReport(*report));
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

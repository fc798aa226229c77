// The check-out information files (extension ".out") in the network's \Net
// folder: who took a host or a single project out, from which computer, when
// and why. Windows-1252 text with CR LF line ends (LF alone is read too); a
// header line is a tag in square brackets and the value is the whole next
// line, except the comment, which runs to the end of the file. The writers
// and the readers below share this one description of the layout.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::checkout {

// One project of a check-out list. host: in the first entry the host being
// checked out, "" for a single project; location: the project's folder,
// ending in the project folder (\\SRV1\cad\Prj\n0000012.prj).
// The list of a host without projects is one entry naming the host only,
// with an empty project and location.
struct CheckoutEntry {
  std::string host;
  std::string project;
  std::string location;
};
inline bool NamesProject(const CheckoutEntry& entry) { return !entry.project.empty(); }

// What the writers record besides the list and the comment. Gathered once
// per check-out; a test fixes them.
struct CheckoutFacts {
  std::string date;                 // CheckoutDateText of now
  std::string computer;             // the writing computer
  std::string domain = "--------";  // of the user's account; eight hyphens when unknown
  std::string user = "--------";
  static CheckoutFacts Gather(extlib::OperationContext& ctx);
};

// "Monday, 3.07.2006    9:05:01": weekday, day, month, year, then three
// blanks and the time with the hour padded to two places; local time.
std::string CheckoutDateText(int64_t seconds_since_1970);

// The whole text of each kind, line ends included.
std::string FormatHostCheckoutInfo(const std::vector<CheckoutEntry>& list, const std::string& comment,
                                   const CheckoutFacts& facts);
std::string FormatProjectCheckoutInfo(const CheckoutEntry& entry, const std::string& file_path,
                                      const std::string& comment, const CheckoutFacts& facts);

// The network's \Net folder (Windows form, no trailing backslash) as the
// setup path "Net" gives it now. False when it is not configured.
bool CheckoutNetFolder(std::string* net);
// net + "\<host>.out".
std::string HostCheckoutInfoPath(const std::string& net, const std::string& host);
// net + "\" + the location's last component cut at its last dot + ".out";
// "" when the location has no last component.
std::string ProjectCheckoutInfoPath(const std::string& net, const std::string& location);

// Writes the host file of list into net, crash-safe (a new file, flushed and
// renamed into place), then marks it hidden and read-only. An older host file
// that is still read-only is not replaced: as every failure to create the
// file, it is shown with the file error message (3, 1) and false returned.
bool WriteHostCheckoutInfo(extlib::OperationContext& ctx, const std::string& net,
                           const std::vector<CheckoutEntry>& list, const std::string& comment,
                           const CheckoutFacts& facts);
// The names in the network's \Net folder, listed once for a run of new
// project files: each file's name is then matched (exactly, else in another
// letter case, as the path map matches) without a look of its own on the
// share. Only for files nobody else writes meanwhile (those of projects
// whose marks the caller holds).
class InfoFolder {
 public:
  // False when the folder cannot be listed; each file is then looked for alone.
  bool List(extlib::OperationContext& ctx, const std::string& net);
  bool Listed() const { return listed_; }
  // The native path of name (Windows-1252) in the folder; *there: it was at the listing.
  std::string Native(const std::string& name, bool* there) const;

 private:
  bool listed_ = false;
  std::string native_;
  std::set<std::string> exact_;                // Windows-1252 names
  std::map<std::string, std::string> folded_;  // folded Windows-1252 name -> name on disk
};

// Writes the project file of entry into net. An existing one is replaced only
// after the question "(%s) already exists, ..." was answered Yes (No: false,
// no message; *refused, when given, is then true). On success *out_path (when
// given) is the file's Windows path. The file is written crash-safe;
// flush_folder false leaves the flush of net's folder to the caller, who
// writes many and flushes once (SyncDirectory of the folder) before relying
// on them.
bool WriteProjectCheckoutInfo(extlib::OperationContext& ctx, const std::string& net, const CheckoutEntry& entry,
                              const std::string& comment, const CheckoutFacts& facts, std::string* out_path,
                              bool* refused = nullptr, bool flush_folder = true, const InfoFolder* folder = nullptr);

// Deletes a marked file (Windows path); where its read-only attribute keeps
// it, its attributes are set to normal first. 0, or -errno (-ENOENT when
// there was none).
[[nodiscard]] int DeleteCheckoutInfo(extlib::OperationContext& ctx, const std::string& path);

// The reading rule, on the text of a file: lines of at most 1023 bytes (a
// longer one arrives in pieces, each a line); the first line containing the
// tag (exact, case-sensitive) is the tag line. "[Comment]": every later line
// up to the end, with one trailing LF and then one CR removed from the whole;
// any other tag: the next line without its line end ("" when the tag line is
// the last). False when the tag is not there, which is no error.
bool CheckoutValue(const std::string& text, const std::string& tag, std::string* value);

// What a check-out information file says, for check-in and the window.
struct CheckoutInfo {
  bool host_file = false;             // "Host Checkout Information"
  std::string computer_name;          // [Computername] (host file)
  std::string filename;               // [Filename] (project file)
  std::string project;                // [Project] (project file)
  std::string location;               // [Location]: domain (host file), folder (project file)
  std::vector<CheckoutEntry> projects;  // [Projects] (host file): project and location
  std::string date, user, host, comment;
};
// Reads the file at a Windows path (a regular file of at most 1 MiB). 0, or
// -errno after the file error message (3, 1) was shown.
[[nodiscard]] int ReadCheckoutInfo(extlib::OperationContext& ctx, const std::string& path, CheckoutInfo* info);
// The same, from a file's text.
void ParseCheckoutInfo(const std::string& text, CheckoutInfo* info);

}  // namespace dovrane::checkout

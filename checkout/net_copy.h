// The checked-out copy of the network's \Net folder on the host: made whole
// in a work folder beside its final place ("\Net.new~"), with the host list
// and the project administration reduced to the host's own, and only then
// renamed into place, so the host holds either its earlier \Net or the whole
// copy, never a half-made one.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::checkout {

// Windows paths of one check-out's folders.
struct NetCopyPlaces {
  std::string network_net;  // \\SRV1\cad\Net
  std::string host_net;     // \\WS01\cad\Net: where the copy goes
  std::string Work() const { return host_net + ".new~"; }
  std::string Backup() const { return host_net + ".ChkOut"; }
};

// True for a name of the network \Net that stays behind (check-out
// information files, the attribute database, the database configuration).
bool ExcludedFromCheckoutCopy(const std::string& name);

// The administration's lines that the copy keeps: the first two, and every
// later one whose host field (or, in another layout, the host marker
// "@host" padded to 16) names host, case-insensitively.
std::string ReduceAdministration(const std::string& text, const std::string& host);

// Makes the copy in the work folder (a leftover work folder is removed
// first): the files of the network \Net without the excluded ones, its host
// list reduced to "host local_data_path" (ending in a line feed), the full
// administration kept as project.dat.chkout beside the reduced project.dat
// (a new file, flushed and renamed into place) and the host check-out
// information file. Failures are shown; false after one or a cancel.
// resume: a check-out of this host cut short marked its projects already;
// the copy gets them unmarked, as the first run would have copied them.
bool BuildCheckoutCopy(extlib::OperationContext& ctx, const NetCopyPlaces& places, const std::string& host,
                       const std::string& local_data_path, bool resume = false);
// text with the mark 0x04 cleared in every record line of host (the
// layout's host field), other lines as they are.
std::string WithoutHostMarks(const std::string& text, const std::string& host);
// Copies the attributes of the listed projects into the copy's database.
// False after a failure (shown by the database layer).
bool CopyCheckoutAttributes(extlib::OperationContext& ctx, const NetCopyPlaces& places,
                            const std::set<uint32_t>& numbers);

// Renames the work folder into place. A \Net that was there is kept as the
// backup \Net.ChkOut; one that is a leftover copy of an unfinished check-out
// (it holds project.dat.chkout, or a backup exists already) is deleted
// instead. *made_backup tells whether this call made the backup.
bool PutCheckoutCopyInPlace(extlib::OperationContext& ctx, const NetCopyPlaces& places, bool* made_backup);
// Takes the copy away again: the work folder, the copy in place (when
// in_place) or a leftover copy of an unfinished check-out, and the backup
// back to \Net. Only while the installation is not checked out.
void RemoveCheckoutCopy(extlib::OperationContext& ctx, const NetCopyPlaces& places, bool in_place);

}  // namespace dovrane::checkout

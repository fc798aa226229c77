// The steps of the host commands (check a host out or in, release a project
// that went out with its host, add and remove a host) that look at the
// administration, the settings, the hosts' disks or the processes. They block
// and may wait for a share: the window runs them on a worker and shows their
// messages through the messenger (the worker waits for the answer).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "checkout/checkout_info_file.h"

namespace dovrane::extlib {
class OperationContext;
}

namespace dovrane::tree {

// One child item of a host item, copied in the window's thread in tree order.
struct HostChild {
  std::string text;  // Windows-1252, as the records hold it
  uint32_t kind = 0;
};

enum class HostListPurpose { kCheckIn, kCheckOut };

struct HostListResult {
  std::vector<checkout::CheckoutEntry> list;
  // The child row of the first project that may not go (-1: none); the
  // window scrolls to it and says why.
  int refused_row = -1;
};

// The "Check Out" button works for a host of this kind named like this
// computer: any host kind but the administration host's.
bool IsButtonHostKind(uint32_t kind);

// The check-out list of host from its children: the first entry names the
// host, each project gets its folder as location. A project may go when it
// has a folder, neither check-out mark and is not in use; for a check-out it
// must also be free (kind 1) and its folder reachable. Check-in reports a
// child that is no project ("Invalid item detected") and skips it; check-out
// skips it silently. own_marks: a check-out or check-in of this host was cut
// short; the marks 0x04 it left on the host's projects are its own and do not
// refuse them. A host without projects gives the one entry naming the host.
HostListResult BuildHostList(extlib::OperationContext& ctx, HostListPurpose purpose, const std::string& host,
                             const std::vector<HostChild>& children, bool own_marks = false);

// The user containers on this computer other than "local", as "[name]" lines
// joined by line feeds; "" when there are none or the host list does not
// register this computer's data path.
std::string OtherUserContainers(extlib::OperationContext& ctx);

// True when the checked-out copy belongs to this network installation: the
// same office standard version and network identifier. Every other answer
// is shown (error icon) and means false.
bool CheckCheckinCompatibility(extlib::OperationContext& ctx);

// True when InstallRoot\NetDrive (a UNC path) and InstallRoot\NetPath name a
// network administration that exists; false after the message.
bool NetworkAdministrationThere(extlib::OperationContext& ctx);

// True, after the refusal (3, 13), when the CAD program runs on this
// computer; the argument is the found program's name, or `argument` when given.
bool RefusedWhileCadProgramRuns(extlib::OperationContext& ctx, const char* argument = nullptr);

// Command 254 on a project that went out with its host: its mark is released
// and its check-out information file deleted (each failure shown).
void ReleaseProjectFromHost(extlib::OperationContext& ctx, const std::string& host, const std::string& name);

// Deletes the host check-out information file of host (no message).
void DeleteHostCheckoutFile(extlib::OperationContext& ctx, const std::string& host);

// Registers the data server at unc_path ("\\HOST\path") in the host list
// and its projects in the administration. True when it was registered. When
// it was not and created (the browse dialog made the path's Prj and Usr
// folders), those folders go again if they are still empty.
bool AddDataServer(extlib::OperationContext& ctx, const std::string& unc_path, bool created = false);

// Takes host out of the host list and its projects out of the
// administration; true when the administration no longer lists them.
bool RemoveHost(extlib::OperationContext& ctx, const std::string& host);

}  // namespace dovrane::tree

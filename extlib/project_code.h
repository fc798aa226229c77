// The system's project codes: what every project operation of the library
// answers, and (taken as an unsigned byte) the command line's exit status.
// Scripts read the exit status, so the values never change and one failure is
// never reported with another failure's code.
#pragma once

namespace dovrane::extlib {

enum ProjectCode : int {
  kPrjOk = 0,
  kPrjFailed = -1,            // general failure
  kPrjAdminMissing = -2,      // administration file missing or not openable
  kPrjNotFound = -3,          // project not in the administration
  kPrjExists = -4,            // project or destination already exists
  kPrjPrivate = -5,           // private project
  kPrjNotReachable = -6,      // host or project not reachable
  kPrjLockFailed = -7,        // project record could not be locked
  kPrjInvalidName = -8,
  kPrjConfigFileFailed = -10,  // "Unable to create configuration file"
  kPrjInterrupted = -11,       // "Interrupted by user"
  kPrjNoComputers = -12,
  kPrjNoAccess = -13,
  kPrjNotOwner = -14,
  kPrjUnknownVersion = -15,  // unknown administration version
  kPrjCompressed = -16,
  kPrjHasDatabaseKey = -17,
  kPrjCheckedOutWithHost = -18,
  kPrjUnknownComputer = -19,
  kPrjHostCheckedOut = -20,
  kPrjOtherVersion = -21,
  kPrjCheckedOut = -22,
};

}  // namespace dovrane::extlib

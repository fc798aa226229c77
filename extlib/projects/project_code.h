// The system's project codes: what every project operation of the library
// answers, and (taken as an unsigned byte) the command line's exit status.
// Scripts read the exit status, so the values never change and one failure is
// never reported with another failure's code.
#pragma once

namespace dovrane::extlib {

enum ProjectCode : int {
  kPrjOk = 0,
  kPrjUnanswered = 1,         // a question went unanswered: nothing was done
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

// True for the values above: the only results a project operation passes on.
[[nodiscard]] constexpr bool IsProjectCode(int value) {
  switch (value) {
    case kPrjOk: case kPrjUnanswered: case kPrjFailed: case kPrjAdminMissing: case kPrjNotFound: case kPrjExists:
    case kPrjPrivate: case kPrjNotReachable: case kPrjLockFailed: case kPrjInvalidName:
    case kPrjConfigFileFailed: case kPrjInterrupted: case kPrjNoComputers: case kPrjNoAccess:
    case kPrjNotOwner: case kPrjUnknownVersion: case kPrjCompressed: case kPrjHasDatabaseKey:
    case kPrjCheckedOutWithHost: case kPrjUnknownComputer: case kPrjHostCheckedOut:
    case kPrjOtherVersion: case kPrjCheckedOut: return true;
    default: return false;
  }
}

// A result of the library's int-returning calls, taken as the project code it
// must be. Anything else (a count, an errno value that slipped through) would
// reach a script as a wrong exit status: it is a general failure.
[[nodiscard]] constexpr ProjectCode AsProjectCode(int value) {
  return IsProjectCode(value) ? static_cast<ProjectCode>(value) : kPrjFailed;
}

// The one place where a system call's result (0, or a negative errno value as
// the platform returns it) becomes a project code. A system failure is a
// general failure: the value of errno is never passed on as a code, where
// ENOSPC would read as -28 and EACCES as "No access rights for project".
// Whoever met the failure names it in its own message.
[[nodiscard]] constexpr ProjectCode ProjectCodeFromErrno(int system_result) {
  return system_result == 0 ? kPrjOk : kPrjFailed;
}

}  // namespace dovrane::extlib

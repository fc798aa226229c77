#include "extlib/project_code.h"

namespace dovrane::extlib {

bool IsProjectCode(int value) {
  switch (value) {
    case kPrjOk:
    case kPrjFailed:
    case kPrjAdminMissing:
    case kPrjNotFound:
    case kPrjExists:
    case kPrjPrivate:
    case kPrjNotReachable:
    case kPrjLockFailed:
    case kPrjInvalidName:
    case kPrjConfigFileFailed:
    case kPrjInterrupted:
    case kPrjNoComputers:
    case kPrjNoAccess:
    case kPrjNotOwner:
    case kPrjUnknownVersion:
    case kPrjCompressed:
    case kPrjHasDatabaseKey:
    case kPrjCheckedOutWithHost:
    case kPrjUnknownComputer:
    case kPrjHostCheckedOut:
    case kPrjOtherVersion:
    case kPrjCheckedOut: return true;
    default: return false;
  }
}

ProjectCode ProjectCodeFromErrno(int system_result) { return system_result == 0 ? kPrjOk : kPrjFailed; }

}  // namespace dovrane::extlib

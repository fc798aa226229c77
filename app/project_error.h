// Project error codes and their report.
#pragma once

#include <string>

namespace dovrane::app {

inline constexpr int kPrjFailed = -1;
inline constexpr int kPrjAdminMissing = -2;
inline constexpr int kPrjNotFound = -3;
inline constexpr int kPrjExists = -4;
inline constexpr int kPrjPrivate = -5;
inline constexpr int kPrjNotReachable = -6;
inline constexpr int kPrjLockFailed = -7;
inline constexpr int kPrjInvalidName = -8;
inline constexpr int kPrjUnknownVersion = -15;
inline constexpr int kPrjHasDatabaseKey = -17;
inline constexpr int kPrjHostCheckedOut = -20;

// The fixed text of a code, or "" for the codes reported by a language notice.
std::string ProjectErrorText(int code);
// Shows the code's text as a warning ("%s\n"), or for -6, -7, -18 and -22 the
// language notice.
void ReportProjectError(int code);

}  // namespace dovrane::app

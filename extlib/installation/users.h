// The user table of the installation: user names by index, who may
// administer, and the number of user containers (32 users each) that every
// record's member bitmap carries. Kept in \Net\users.dat (slot 23).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extlib/records/prj_record.h"

namespace dovrane::extlib {

class OperationContext;

class Installation;

inline constexpr char kUserTableFile[] = "users.dat";

struct UserEntry {
  uint32_t index = 0;  // 1-based
  std::string name;    // Windows-1252
  bool administrator = false;
};

struct UserTable {
  int containers = 1;
  std::vector<UserEntry> users;
};

// Parses the text of users.dat. 0, or -1 with the 1-based line in *bad_line.
[[nodiscard]] int ParseUserTable(const std::string& text, UserTable* table, int* bad_line);
std::string FormatUserTable(const UserTable& table);
// Reads slot 23's table; a missing file is an empty table with 1 container.
// 0 or kPrjFailed.
[[nodiscard]] int ReadUserTable(UserTable* table);
// The same for the installation's slot 23 (ReadUserTable acts on the process default).
[[nodiscard]] int ReadUserTable(const Installation& installation, UserTable* table);
// Rewrites slot 23's table crash-safe. 0 or kPrjFailed.
[[nodiscard]] int WriteUserTable(extlib::OperationContext& ctx, const UserTable& table);

// Containers of the installation: 0, or kPrjFailed when the table exists but
// cannot be read (*containers is then 1). Writers of whole files use this one.
[[nodiscard]] int ReadUserContainerCount(int* containers);
// Containers of the installation: 1 when nothing is configured.
[[nodiscard]] int lzuGetCountOfUserContainers();
// 0, or kPrjFailed for a count outside 1..31 or a table that cannot be read
// or written.
[[nodiscard]] int lzuSetCountOfUserContainers(OperationContext& ctx, int containers);
// The name of user `index`; 0, or -1 (name "") when there is none.
[[nodiscard]] int lzugnaC(uint32_t index, std::string* name);

struct UserInfo {
  uint32_t index = 0;  // 0: not in the table
  std::string name;
  bool may_administer = false;  // administrator, or no table at all
};
// Who the current user is (login name matched case-insensitively). 0.
int lzuinfC(UserInfo* info);

// 0 when the current user may work on the project: mode 1 needs the owner's
// rights (-14 otherwise), mode 0 owner or member (-13 otherwise). Projects
// without owner, administrators and single-workstation installations pass.
[[nodiscard]] int check_PrjOwnerPermision(OperationContext& ctx, int mode, const PRJ& record);

}  // namespace dovrane::extlib

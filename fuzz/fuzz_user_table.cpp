// The user table: what the reader accepts, the writer writes back the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "extlib/installation/users.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dovrane::extlib;
  std::string text(reinterpret_cast<const char*>(data), size);
  UserTable table;
  int bad_line = 0;
  if (ParseUserTable(text, &table, &bad_line) != 0) {
    if (bad_line < 1) std::abort();
    return 0;
  }
  UserTable again;
  if (ParseUserTable(FormatUserTable(table), &again, &bad_line) != 0) std::abort();
  if (again.containers != table.containers || again.users.size() != table.users.size()) std::abort();
  for (size_t i = 0; i < table.users.size(); ++i)
    if (again.users[i].index != table.users[i].index || again.users[i].name != table.users[i].name ||
        again.users[i].administrator != table.users[i].administrator)
      std::abort();
  return 0;
}

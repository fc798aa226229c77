// Where no language is set the program follows the locale; the tests expect
// the English texts then, so the tester's own locale is put aside before
// anything runs (the programs the tests start inherit it).
#include <cstdlib>
#include <initializer_list>

namespace {

const bool kLocalePinned = [] {
  ::setenv("LANG", "C.UTF-8", 1);
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) ::unsetenv(name);
  return true;
}();

}  // namespace

#include "platform/system_names.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>

#include "platform/env.h"

namespace dovrane::platform {

namespace {
std::string g_configured_domain;
}

std::string ComputerName() {
  std::string name = CurrentEnv()->GetEnv("DOVRANE_COMPUTERNAME");
  if (name.empty()) {
    char buf[256] = {0};
    if (::gethostname(buf, sizeof buf - 1) == 0) name = buf;
    size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
  }
  if (name.size() > 15) name.resize(15);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

std::string UserName() {
  std::string name = CurrentEnv()->GetEnv("DOVRANE_USERNAME");
  if (!name.empty()) return name;
  if (struct passwd* pw = ::getpwuid(::geteuid())) return pw->pw_name;
  name = CurrentEnv()->GetEnv("USER");
  return name.empty() ? "unknown" : name;
}

std::string DomainName() {
  std::string name = CurrentEnv()->GetEnv("DOVRANE_DOMAIN");
  return name.empty() ? g_configured_domain : name;
}

void SetConfiguredDomain(const std::string& domain) { g_configured_domain = domain; }

int ProcessId() { return static_cast<int>(::getpid()); }

}  // namespace dovrane::platform

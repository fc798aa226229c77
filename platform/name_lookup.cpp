#include "platform/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace dovrane::platform {

namespace {

bool SystemResolve(const std::string& host, sockaddr_in* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  std::memcpy(address, found->ai_addr, sizeof *address);
  ::freeaddrinfo(found);
  return true;
}

std::mutex g_resolver_mutex;
NameResolver g_resolver;  // empty: the system's

NameResolver CurrentResolver() {
  std::lock_guard<std::mutex> guard(g_resolver_mutex);
  return g_resolver ? g_resolver : NameResolver(SystemResolve);
}

// What the lookup thread and the waiting caller share; the thread keeps it
// alive when the caller has gone.
struct Lookup {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  bool found = false;
  sockaddr_in address{};
};

}  // namespace

void SetNameResolverForTesting(NameResolver resolver) {
  std::lock_guard<std::mutex> guard(g_resolver_mutex);
  g_resolver = std::move(resolver);
}

LookupResult LookupIPv4(const std::string& host, int timeout_ms, sockaddr_in* address) {
  if (host.empty()) return LookupResult::kNotFound;
  *address = sockaddr_in{};
  address->sin_family = AF_INET;
  if (::inet_pton(AF_INET, host.c_str(), &address->sin_addr) == 1) return LookupResult::kFound;

  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host, resolve = CurrentResolver()] {
    sockaddr_in found{};
    const bool ok = resolve(host, &found);
    std::lock_guard<std::mutex> guard(lookup->mutex);
    lookup->found = ok;
    lookup->address = found;
    lookup->done = true;
    lookup->done_cv.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->done_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 1),
                                [&] { return lookup->done; }))
    return LookupResult::kTimedOut;
  if (!lookup->found) return LookupResult::kNotFound;
  *address = lookup->address;
  return LookupResult::kFound;
}

}  // namespace dovrane::platform

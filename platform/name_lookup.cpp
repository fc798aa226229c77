#include "platform/name_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/threads_at_large.h"

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

// The lookups still under way, one per name: a name asked for again while
// its lookup hangs waits for that one instead of starting another thread (the
// ping asks for every host every few seconds). Never destroyed: a lookup
// thread may end while the program's statics are being torn down.
struct Pending {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<Lookup>> lookups;
};
Pending& ThePending() {
  static Pending* pending = new Pending;
  return *pending;
}

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

  std::shared_ptr<Lookup> lookup;
  bool start = false;
  {
    Pending& pending = ThePending();
    std::lock_guard<std::mutex> guard(pending.mutex);
    std::weak_ptr<Lookup>& entry = pending.lookups[host];
    lookup = entry.lock();
    if (!lookup) {
      lookup = std::make_shared<Lookup>();
      entry = lookup;
      start = true;
    }
  }
  if (start) {
    // Left alone when the caller's limit passes: it may still run at the end.
    ThreadAtLargeStarts();
    std::thread([lookup, host, resolve = CurrentResolver()] {
      sockaddr_in found{};
      const bool ok = resolve(host, &found);
      {
        Pending& pending = ThePending();
        std::lock_guard<std::mutex> guard(pending.mutex);
        if (auto it = pending.lookups.find(host); it != pending.lookups.end() && it->second.lock() == lookup)
          pending.lookups.erase(it);
      }
      std::lock_guard<std::mutex> guard(lookup->mutex);
      lookup->found = ok;
      lookup->address = found;
      lookup->done = true;
      lookup->done_cv.notify_all();
      ThreadAtLargeEnds();
    }).detach();
  }
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->done_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 1),
                                [&] { return lookup->done; }))
    return LookupResult::kTimedOut;
  if (!lookup->found) return LookupResult::kNotFound;
  *address = lookup->address;
  return LookupResult::kFound;
}

}  // namespace dovrane::platform

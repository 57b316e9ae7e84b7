// The bounded name lookup, the same on both systems: getaddrinfo can neither be given a
// time-out nor be cancelled (GetAddrInfoExW could on Windows, but not on Linux), so the
// system's lookup runs on a detached thread and the caller waits for it in steps.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/Sockets.h"

namespace zirvo::platform {

namespace {

// One lookup, shared by its thread and by whoever waits for it; freed by the last of them.
struct Lookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::optional<Ipv4Address> address;
};

// The lookups under way, by name. Never destroyed: a lookup thread may finish while the
// process is ending, after static objects are gone.
struct Running {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<Lookup>> byName;
};

Running& RunningLookups() {
  static Running* running = new Running;
  return *running;
}

// The lookup of `host` under way, or a new one on a thread of its own; null when no
// thread can be started.
std::shared_ptr<Lookup> StartOrJoin(const std::string& host) {
  Running& running = RunningLookups();
  std::lock_guard lock(running.mutex);
  if (const auto found = running.byName.find(host); found != running.byName.end()) {
    return found->second;
  }
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, host, &running] {
      const auto address = ResolveIPv4(host);
      {
        std::lock_guard runningLock(running.mutex);
        const auto found = running.byName.find(host);
        if (found != running.byName.end() && found->second == lookup) {
          running.byName.erase(found);
        }
      }
      {
        std::lock_guard lookupLock(lookup->mutex);
        lookup->address = address;
        lookup->finished = true;
      }
      lookup->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  running.byName.emplace(host, lookup);
  return lookup;
}

}  // namespace

std::optional<Ipv4Address> ResolveIPv4Within(const std::string& host,
                                             std::chrono::milliseconds bound,
                                             std::chrono::milliseconds step,
                                             const std::function<void()>& betweenSteps,
                                             bool& timedOut) {
  timedOut = false;
  const auto lookup = StartOrJoin(host);
  // Out of threads: the lookup runs here, with the resolver's own bound, as it always
  // did before.
  if (!lookup) return ResolveIPv4(host);
  const auto deadline = std::chrono::steady_clock::now() + bound;
  std::unique_lock lock(lookup->mutex);
  for (;;) {
    if (lookup->finished) return lookup->address;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      timedOut = true;
      return std::nullopt;
    }
    const auto wait = std::min<std::chrono::steady_clock::duration>(step, deadline - now);
    if (lookup->done.wait_for(lock, wait, [&] { return lookup->finished; })) {
      return lookup->address;
    }
    if (betweenSteps) {
      lock.unlock();
      betweenSteps();
      lock.lock();
    }
  }
}

}  // namespace zirvo::platform

// The connectivity check: the machine's current local IPv4 address, as the form's
// address watcher `IdIPWatch1` gives it in a one-shot query.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Adapters.h"

namespace zirvo::net {

inline constexpr std::string_view kLoopbackAddress = "127.0.0.1";

// The watcher's settings. It never watches in the background and never keeps an address
// history, so the history file is never written.
struct IPWatchSettings {
  bool active = false;
  bool historyEnabled = false;
  std::string historyFilename = "iphist.dat";
};

// The address of the first IPv4 entry of the list, or empty. Pure.
std::string FirstIPv4Address(const std::vector<platform::AdapterAddress>& addresses);

// The connectivity rule: connected unless the address is exactly "127.0.0.1" (an empty
// address counts as connected).
bool CountsAsConnected(std::string_view localAddress);

// Owned by the service object; used from the cycle's thread only.
class IPWatch {
 public:
  using AddressSource = std::function<std::vector<platform::AdapterAddress>()>;
  // `source` enumerates the addresses; the system's enumeration by default.
  explicit IPWatch(AddressSource source = platform::ListAdapterAddresses);

  // Enumerates afresh at every call (nothing is cached) and returns the first local
  // IPv4 address in dotted form, or empty when there is none. A failing enumeration
  // raises EOSError.
  std::string LocalAddress() const;
  const IPWatchSettings& Settings() const { return settings_; }

 private:
  AddressSource source_;
  IPWatchSettings settings_;
};

}  // namespace zirvo::net

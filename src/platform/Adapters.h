// The machine's local interface addresses, as the connectivity check sees them.
#pragma once

#include <string>
#include <vector>

namespace zirvo::platform {

struct AdapterAddress {
  bool ipv6 = false;
  std::string address;  // dotted decimal for IPv4, the usual text form for IPv6
  std::string mask;     // dotted subnet mask of an IPv4 entry, empty for IPv6
};

// Enumerates afresh, in the system's interface order, the usable unicast addresses of
// every interface that is neither a loopback nor receive-only. No address is an empty
// list, not a failure. A failing system call raises EOSError with the system's text.
// Any thread; nothing is cached and no file is written.
std::vector<AdapterAddress> ListAdapterAddresses();

}  // namespace zirvo::platform

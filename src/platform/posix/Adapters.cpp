#include "platform/Adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <cerrno>

#include <memory>

#include "base/Errors.h"
#include "platform/SystemError.h"

namespace zirvo::platform {

namespace {

struct IfAddrsDeleter {
  void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

std::string AddressText(int family, const void* address) {
  char text[INET6_ADDRSTRLEN] = {};
  return ::inet_ntop(family, address, text, sizeof text) != nullptr ? std::string(text)
                                                                    : std::string();
}

}  // namespace

std::vector<AdapterAddress> ListAdapterAddresses() {
  ifaddrs* raw = nullptr;
  if (::getifaddrs(&raw) != 0) throw EOSError(static_cast<std::uint32_t>(errno));
  std::unique_ptr<ifaddrs, IfAddrsDeleter> list(raw);

  // The kernel lists addresses by interface index, the system's own interface order.
  // An interface that is down or has no carrier cannot carry traffic yet: its addresses
  // are not usable, as a tentative address is not on Windows.
  std::vector<AdapterAddress> result;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    const unsigned flags = entry->ifa_flags;
    if ((flags & IFF_LOOPBACK) != 0) continue;
    if ((flags & IFF_UP) == 0 || (flags & IFF_RUNNING) == 0) continue;
    if (entry->ifa_addr->sa_family == AF_INET) {
      AdapterAddress item;
      item.address =
          AddressText(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr);
      if (entry->ifa_netmask != nullptr) {
        item.mask = AddressText(
            AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr);
      }
      result.push_back(std::move(item));
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      AdapterAddress item;
      item.ipv6 = true;
      item.address =
          AddressText(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr);
      result.push_back(std::move(item));
    }
  }
  return result;
}

}  // namespace zirvo::platform

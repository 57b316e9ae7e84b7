#include "net/Connectivity.h"

namespace zirvo::net {

std::string FirstIPv4Address(const std::vector<platform::AdapterAddress>& addresses) {
  for (const auto& entry : addresses) {
    if (!entry.ipv6) return entry.address;
  }
  return std::string();
}

bool CountsAsConnected(std::string_view localAddress) { return localAddress != kLoopbackAddress; }

IPWatch::IPWatch(AddressSource source) : source_(std::move(source)) {}

std::string IPWatch::LocalAddress() const { return FirstIPv4Address(source_()); }

}  // namespace zirvo::net

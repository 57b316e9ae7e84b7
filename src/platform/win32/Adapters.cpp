#include "platform/Adapters.h"

// Winsock's headers must come before the IP Helper's and Windows' own.
#include <winsock2.h>
// clang-format off
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
// clang-format on

#include <cstdint>
#include <memory>
#include <set>

#include "base/Errors.h"
#include "platform/SystemError.h"

namespace zirvo::platform {

namespace {

constexpr ULONG kAddressFlags = 46;  // skip anycast, multicast, DNS servers, friendly names
constexpr ULONG kInitialBufferSize = 15360;
constexpr DWORD kSoftwareLoopback = 24;
constexpr DWORD kReceiveOnlyFlag = 8;

using GetAdaptersAddressesFunction = ULONG(WINAPI*)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES,
                                                    PULONG);
using GetUniDirectionalAdapterInfoFunction = DWORD(WINAPI*)(PIP_UNIDIRECTIONAL_ADAPTER_ADDRESS,
                                                            PULONG);

// Looked up by name: older systems lack these functions, which changes the enumeration.
void* IpHelperFunction(const char* name) {
  HMODULE module = GetModuleHandleA("iphlpapi.dll");
  if (module == nullptr) module = LoadLibraryA("iphlpapi.dll");
  return module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

std::string SocketAddressText(const SOCKET_ADDRESS& address) {
  char text[64] = {};
  DWORD length = sizeof text;
  if (WSAAddressToStringA(address.lpSockaddr, static_cast<DWORD>(address.iSockaddrLength), nullptr,
                          text, &length) != 0) {
    return std::string();
  }
  std::string result(text);
  // The text of an IPv6 address may carry a "%scope" suffix; the address alone is wanted.
  const auto percent = result.find('%');
  if (percent != std::string::npos) result.erase(percent);
  return result;
}

std::string MaskFromPrefix(unsigned prefixLength) {
  const std::uint32_t mask =
      prefixLength == 0 ? 0
                        : (prefixLength >= 32 ? 0xFFFFFFFFu : ~((1u << (32 - prefixLength)) - 1));
  return std::to_string(mask >> 24) + "." + std::to_string((mask >> 16) & 0xFF) + "." +
         std::to_string((mask >> 8) & 0xFF) + "." + std::to_string(mask & 0xFF);
}

// The enumeration of systems before IPv6, IPv4 only.
std::vector<AdapterAddress> ListWithAdaptersInfo() {
  std::set<std::uint32_t> unidirectional;
  if (auto getUni = reinterpret_cast<GetUniDirectionalAdapterInfoFunction>(
          IpHelperFunction("GetUniDirectionalAdapterInfo"))) {
    ULONG size = kInitialBufferSize;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
    DWORD answer =
        getUni(reinterpret_cast<PIP_UNIDIRECTIONAL_ADAPTER_ADDRESS>(buffer.get()), &size);
    if (answer == ERROR_MORE_DATA) {
      buffer.reset(new std::uint8_t[size]);
      answer = getUni(reinterpret_cast<PIP_UNIDIRECTIONAL_ADAPTER_ADDRESS>(buffer.get()), &size);
    }
    if (answer == NO_ERROR) {
      const auto* table = reinterpret_cast<PIP_UNIDIRECTIONAL_ADAPTER_ADDRESS>(buffer.get());
      for (ULONG i = 0; i < table->NumAdapters; ++i) {
        unidirectional.insert(static_cast<std::uint32_t>(table->Address[i]));
      }
    }
  }

  ULONG size = kInitialBufferSize;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
  DWORD answer = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.get()), &size);
  while (answer == ERROR_BUFFER_OVERFLOW) {
    buffer.reset(new std::uint8_t[size]);
    answer = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.get()), &size);
  }
  if (answer == ERROR_NO_DATA || answer == ERROR_NOT_SUPPORTED) return {};
  if (answer != NO_ERROR) throw EOSError(answer);

  std::vector<AdapterAddress> result;
  for (auto* adapter = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.get()); adapter != nullptr;
       adapter = adapter->Next) {
    for (const IP_ADDR_STRING* item = &adapter->IpAddressList; item != nullptr; item = item->Next) {
      const std::string text = item->IpAddress.String;
      if (text.empty() || text == "0.0.0.0") continue;
      in_addr parsed{};
      if (inet_pton(AF_INET, text.c_str(), &parsed) == 1 &&
          unidirectional.count(static_cast<std::uint32_t>(parsed.s_addr)) != 0) {
        continue;
      }
      result.push_back(AdapterAddress{false, text, item->IpMask.String});
    }
  }
  return result;
}

}  // namespace

std::vector<AdapterAddress> ListAdapterAddresses() {
  auto getAddresses =
      reinterpret_cast<GetAdaptersAddressesFunction>(IpHelperFunction("GetAdaptersAddresses"));
  if (getAddresses == nullptr) return ListWithAdaptersInfo();

  ULONG size = kInitialBufferSize;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
  ULONG answer = getAddresses(AF_UNSPEC, kAddressFlags, nullptr,
                              reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.get()), &size);
  while (answer == ERROR_BUFFER_OVERFLOW) {
    buffer.reset(new std::uint8_t[size]);
    answer = getAddresses(AF_UNSPEC, kAddressFlags, nullptr,
                          reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.get()), &size);
  }
  if (answer == ERROR_NO_DATA || answer == ERROR_ADDRESS_NOT_ASSOCIATED) return {};
  if (answer == ERROR_NOT_SUPPORTED) return ListWithAdaptersInfo();
  if (answer != NO_ERROR) throw EOSError(answer);

  std::vector<AdapterAddress> result;
  for (auto* adapter = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.get()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->IfType == kSoftwareLoopback || (adapter->Flags & kReceiveOnlyFlag) != 0) continue;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      if (unicast->DadState != IpDadStatePreferred) continue;
      const int family = unicast->Address.lpSockaddr->sa_family;
      if (family == AF_INET) {
        result.push_back(AdapterAddress{false, SocketAddressText(unicast->Address),
                                        MaskFromPrefix(unicast->OnLinkPrefixLength)});
      } else if (family == AF_INET6) {
        result.push_back(AdapterAddress{true, SocketAddressText(unicast->Address), {}});
      }
    }
  }
  return result;
}

}  // namespace zirvo::platform

// The state of a named service as the service control manager reports it.
#include <windows.h>

#include "platform/ServiceManager.h"
#include "platform/win32/ScHandle.h"

namespace zirvo::platform {

namespace {

// The access mask the state query asks of the manager and of the service: the standard
// rights with every manager right, which the service grants as query and control rights.
constexpr DWORD kQueryAccess = 0xF003F;

}  // namespace

std::optional<std::uint32_t> QueryServiceCurrentState(const std::string& serviceName,
                                                      const std::string& machineName) {
  win32::UniqueScHandle manager(
      ::OpenSCManagerA(machineName.empty() ? nullptr : machineName.c_str(), nullptr, kQueryAccess));
  if (!manager) return {};
  win32::UniqueScHandle service(::OpenServiceA(manager.get(), serviceName.c_str(), kQueryAccess));
  manager.reset();
  if (!service) return {};
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service.get(), &status)) return {};
  return status.dwCurrentState;
}

}  // namespace zirvo::platform

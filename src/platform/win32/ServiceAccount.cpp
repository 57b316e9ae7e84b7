// The configured account of a Windows service, and its effective write access to a path
// as the system's access check (Authz) computes it from the account's SID and groups.
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <authz.h>

#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/ServiceAccount.h"
#include "platform/win32/ScHandle.h"

namespace zirvo::platform {

namespace {

struct LocalFreer {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

struct AuthzManagerCloser {
  void operator()(AUTHZ_RESOURCE_MANAGER_HANDLE handle) const {
    ::AuthzFreeResourceManager(handle);
  }
};

struct AuthzContextCloser {
  void operator()(AUTHZ_CLIENT_CONTEXT_HANDLE handle) const { ::AuthzFreeContext(handle); }
};

// The manager writes the system's own account as "LocalSystem", which no account lookup
// knows; the other service accounts have names the lookup takes (".\name" for a local one).
std::vector<BYTE> AccountSid(const std::string& account) {
  std::string name = account;
  if (_stricmp(name.c_str(), "LocalSystem") == 0) name = "NT AUTHORITY\\SYSTEM";
  if (name.rfind(".\\", 0) == 0) name = name.substr(2);
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use{};
  ::LookupAccountNameA(nullptr, name.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
  if (sidSize == 0) return {};
  std::vector<BYTE> sid(sidSize);
  std::vector<char> domain(domainSize + 1);
  if (!::LookupAccountNameA(nullptr, name.c_str(), sid.data(), &sidSize, domain.data(), &domainSize,
                            &use)) {
    return {};
  }
  return sid;
}

}  // namespace

std::optional<std::string> RegisteredServiceAccount(const std::string& serviceName) {
  win32::UniqueScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return std::nullopt;
  win32::UniqueScHandle service(
      ::OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_QUERY_CONFIG));
  if (!service) return std::nullopt;
  DWORD needed = 0;
  ::QueryServiceConfigA(service.get(), nullptr, 0, &needed);
  if (needed == 0) return std::nullopt;
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!::QueryServiceConfigA(service.get(), config, needed, &needed)) return std::nullopt;
  const char* name = config->lpServiceStartName;
  return std::string(name != nullptr && *name != '\0' ? name : "LocalSystem");
}

WriteAccess AccountWriteAccess(const std::string& account, const std::string& path) {
  std::vector<BYTE> sid = AccountSid(account);
  if (sid.empty()) return WriteAccess::kUnknown;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoA(
          path.c_str(), SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return WriteAccess::kUnknown;
  }
  const std::unique_ptr<void, LocalFreer> descriptorOwner(descriptor);
  AUTHZ_RESOURCE_MANAGER_HANDLE rawManager = nullptr;
  if (!::AuthzInitializeResourceManager(AUTHZ_RM_FLAG_NO_AUDIT, nullptr, nullptr, nullptr, nullptr,
                                        &rawManager)) {
    return WriteAccess::kUnknown;
  }
  const std::unique_ptr<std::remove_pointer_t<AUTHZ_RESOURCE_MANAGER_HANDLE>, AuthzManagerCloser>
      resourceManager(rawManager);
  AUTHZ_CLIENT_CONTEXT_HANDLE rawContext = nullptr;
  LUID unused{};
  if (!::AuthzInitializeContextFromSid(0, sid.data(), rawManager, nullptr, unused, nullptr,
                                       &rawContext)) {
    return WriteAccess::kUnknown;
  }
  const std::unique_ptr<std::remove_pointer_t<AUTHZ_CLIENT_CONTEXT_HANDLE>, AuthzContextCloser>
      context(rawContext);
  // A folder's "write data" is the right to add files, a file's the right to write it.
  AUTHZ_ACCESS_REQUEST request{};
  request.DesiredAccess = FILE_WRITE_DATA;
  ACCESS_MASK granted = 0;
  DWORD error = 0;
  AUTHZ_ACCESS_REPLY reply{};
  reply.ResultListLength = 1;
  reply.GrantedAccessMask = &granted;
  reply.Error = &error;
  if (!::AuthzAccessCheck(0, rawContext, &request, nullptr, descriptor, nullptr, 0, &reply,
                          nullptr)) {
    return WriteAccess::kUnknown;
  }
  return (granted & FILE_WRITE_DATA) != 0 ? WriteAccess::kAllowed : WriteAccess::kDenied;
}

}  // namespace zirvo::platform

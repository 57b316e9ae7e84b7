// The configured account of a Windows service, and its effective write access to a path
// as the system's access check (Authz) computes it from the account's SID and groups.
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <authz.h>

#include <memory>
#include <type_traits>
#include <vector>

#include "platform/ServiceAccount.h"
#include "platform/win32/ScHandle.h"
#include "platform/win32/Security.h"
#include "platform/win32/WidePath.h"

namespace zirvo::platform {

namespace {

struct AuthzManagerCloser {
  void operator()(AUTHZ_RESOURCE_MANAGER_HANDLE handle) const {
    ::AuthzFreeResourceManager(handle);
  }
};

struct AuthzContextCloser {
  void operator()(AUTHZ_CLIENT_CONTEXT_HANDLE handle) const { ::AuthzFreeContext(handle); }
};

// The account's identifier as the access check takes it. The manager writes a local
// account as ".\name", which the lookup does not take; the system's own and the virtual
// service accounts are derived without one, as the grants at install derive them.
win32::LocalMemory<void> BinaryAccountSid(const std::string& account) {
  std::string text;
  try {
    text = win32::AccountSid(account.rfind(".\\", 0) == 0 ? account.substr(2) : account);
  } catch (const Exception&) {
    return nullptr;
  }
  PSID sid = nullptr;
  if (!::ConvertStringSidToSidW(win32::WidePath(text).c_str(), &sid)) return nullptr;
  return win32::LocalMemory<void>(sid);
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
  const win32::LocalMemory<void> sid = BinaryAccountSid(account);
  if (!sid) return WriteAccess::kUnknown;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // The path is UTF-8: a folder named outside the code page is reached by its wide name.
  if (::GetNamedSecurityInfoW(
          win32::WidePath(path).c_str(), SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return WriteAccess::kUnknown;
  }
  const win32::LocalMemory<void> descriptorOwner(descriptor);
  AUTHZ_RESOURCE_MANAGER_HANDLE rawManager = nullptr;
  if (!::AuthzInitializeResourceManager(AUTHZ_RM_FLAG_NO_AUDIT, nullptr, nullptr, nullptr, nullptr,
                                        &rawManager)) {
    return WriteAccess::kUnknown;
  }
  const std::unique_ptr<std::remove_pointer_t<AUTHZ_RESOURCE_MANAGER_HANDLE>, AuthzManagerCloser>
      resourceManager(rawManager);
  AUTHZ_CLIENT_CONTEXT_HANDLE rawContext = nullptr;
  LUID unused{};
  if (!::AuthzInitializeContextFromSid(0, sid.get(), rawManager, nullptr, unused, nullptr,
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

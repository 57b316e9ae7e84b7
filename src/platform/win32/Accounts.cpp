#include "platform/Accounts.h"

#include <windows.h>

#include <vector>

#include "base/Errors.h"
#include "platform/AccessRules.h"
#include "platform/CodePage.h"
#include "platform/SystemError.h"

namespace zirvo::platform {

bool AccountExists(const std::string& name) {
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use = SidTypeUnknown;
  // The first call only asks for the sizes; an account that exists answers with
  // ERROR_INSUFFICIENT_BUFFER.
  const std::u16string wideName = AnsiToWide(name);
  const std::wstring account(wideName.begin(), wideName.end());
  if (!::LookupAccountNameW(nullptr, account.c_str(), nullptr, &sidSize, nullptr, &domainSize,
                            &use)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_NONE_MAPPED) return false;
    if (error != ERROR_INSUFFICIENT_BUFFER) throw EOSError(error);
  }
  std::vector<BYTE> sid(sidSize);
  std::vector<wchar_t> domain(domainSize + 1);
  if (!::LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sidSize, domain.data(),
                            &domainSize, &use)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_NONE_MAPPED) return false;
    throw EOSError(error);
  }
  // A group or the machine's own name is found under the same name, but a service can
  // only run under a user.
  return use == SidTypeUser;
}

const char* SystemAccountName() { return "LocalSystem"; }

std::string FallbackServiceAccount(const std::string& serviceName) {
  return VirtualServiceAccount(serviceName);
}

}  // namespace zirvo::platform

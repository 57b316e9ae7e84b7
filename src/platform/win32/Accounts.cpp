#include "platform/Accounts.h"

#include <windows.h>

#include <vector>

#include "base/Errors.h"
#include "platform/SystemError.h"

namespace zirvo::platform {

bool AccountExists(const std::string& name) {
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use = SidTypeUnknown;
  // The first call only asks for the sizes; an account that exists answers with
  // ERROR_INSUFFICIENT_BUFFER.
  if (!::LookupAccountNameA(nullptr, name.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_NONE_MAPPED) return false;
    if (error != ERROR_INSUFFICIENT_BUFFER) throw EOSError(error);
  }
  std::vector<BYTE> sid(sidSize);
  std::vector<char> domain(domainSize + 1);
  if (!::LookupAccountNameA(nullptr, name.c_str(), sid.data(), &sidSize, domain.data(), &domainSize,
                            &use)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_NONE_MAPPED) return false;
    throw EOSError(error);
  }
  // A group or the machine's own name is found under the same name, but a service can
  // only run under a user.
  return use == SidTypeUser;
}

const char* SystemAccountName() { return "LocalSystem"; }

}  // namespace zirvo::platform

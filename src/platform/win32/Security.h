// Accounts and access lists through the wide Windows functions, shared by the Win32
// files that create, grant or judge access to the service's files.
#pragma once

#include <windows.h>
// windows.h first: sddl.h needs its types.
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "platform/AccessRules.h"
#include "platform/CodePage.h"
#include "platform/SystemError.h"
#include "platform/win32/WidePath.h"

namespace zirvo::platform::win32 {

struct LocalFreer {
  void operator()(void* memory) const { ::LocalFree(memory); }
};
template <typename T>
using LocalMemory = std::unique_ptr<T, LocalFreer>;

inline std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text)) return std::string();
  LocalMemory<wchar_t> owned(text);
  return PathFromWide(text);
}

// The identifier of an account: derived for the names that need no lookup (virtual
// service accounts, the system account), otherwise asked of the system. Raises EOSError.
inline std::string AccountSid(const std::string& account) {
  if (std::string known = WellKnownAccountSid(account); !known.empty()) return known;
  const std::u16string name = AnsiToWide(account);
  const std::wstring wide(name.begin(), name.end());
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use = SidTypeUnknown;
  ::LookupAccountNameW(nullptr, wide.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
  std::vector<BYTE> sid(sidSize == 0 ? 1 : sidSize);
  std::vector<wchar_t> domain(domainSize + 1);
  if (!::LookupAccountNameW(nullptr, wide.c_str(), sid.data(), &sidSize, domain.data(), &domainSize,
                            &use)) {
    throw EOSError(::GetLastError());
  }
  return SidText(sid.data());
}

// The account the process runs as ("" when the system cannot tell).
inline std::string ProcessAccountSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
  std::vector<BYTE> buffer(256);
  DWORD size = 0;
  bool ok = ::GetTokenInformation(token, TokenUser, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &size);
  if (!ok && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    buffer.resize(size);
    ok = ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  }
  ::CloseHandle(token);
  return ok ? SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) : std::string();
}

// The security attributes of a file the service creates: readable and writable only by
// the system, the administrators and the account the process runs as. Without a
// descriptor (the system refused to build one), the attributes are null and the file
// takes its folder's entries, as before.
class ProtectedFileSecurity {
 public:
  ProtectedFileSecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::string sddl = ProtectedFileSddl(ProcessAccountSid());
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            WidePath(sddl).c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
      descriptor_.reset(descriptor);
      attributes_.nLength = sizeof attributes_;
      attributes_.lpSecurityDescriptor = descriptor;
      attributes_.bInheritHandle = FALSE;
    }
  }
  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  LocalMemory<void> descriptor_;
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace zirvo::platform::win32

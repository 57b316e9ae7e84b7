#include "platform/FileAccess.h"

#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>

#include "base/Errors.h"
#include "platform/win32/Security.h"
#include "platform/win32/WidePath.h"

namespace zirvo::platform {

bool FileAccessListsApply() { return true; }

void GrantAccess(const std::string& account, const std::vector<AccessGrant>& grants) {
  PSID sid = nullptr;
  // Derived, not looked up: the system may not know a virtual account before the service
  // is registered (and some systems never do).
  if (!::ConvertStringSidToSidW(win32::WidePath(win32::AccountSid(account)).c_str(), &sid)) {
    throw EOSError(::GetLastError());
  }
  win32::LocalMemory<void> ownedSid(sid);
  for (const AccessGrant& grant : grants) {
    const std::wstring path = win32::WidePath(grant.path);
    PACL current = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                          nullptr, nullptr, &current, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) throw EOSError(error);
    win32::LocalMemory<void> ownedDescriptor(descriptor);
    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = grant.rights;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = grant.inherited ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_USER;
    access.Trustee.ptstrName = static_cast<LPWSTR>(sid);
    PACL updated = nullptr;
    error = ::SetEntriesInAclW(1, &access, current, &updated);
    if (error != ERROR_SUCCESS) throw EOSError(error);
    win32::LocalMemory<ACL> ownedList(updated);
    error = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, updated, nullptr);
    if (error != ERROR_SUCCESS) throw EOSError(error);
  }
}

}  // namespace zirvo::platform

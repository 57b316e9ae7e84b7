#include "platform/OutsideAccess.h"

#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>

#include <vector>

#include "platform/AccessRules.h"
#include "platform/CodePage.h"
#include "platform/win32/Security.h"
#include "platform/win32/WidePath.h"

namespace zirvo::platform {

namespace {

// "BUILTIN\Utilisateurs", as the system names the account in its own language; the
// identifier itself when it has no name here.
std::string AccountName(const std::string& sidText) {
  PSID sid = nullptr;
  if (!::ConvertStringSidToSidW(win32::WidePath(sidText).c_str(), &sid)) return sidText;
  win32::LocalMemory<void> owned(sid);
  wchar_t name[256] = {};
  wchar_t domain[256] = {};
  DWORD nameSize = 256;
  DWORD domainSize = 256;
  SID_NAME_USE use = SidTypeUnknown;
  if (!::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    return sidText;
  }
  std::wstring full = domainSize > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name);
  return WideToAnsi(std::u16string(full.begin(), full.end()));
}

std::vector<AccessEntry> Entries(PACL list) {
  std::vector<AccessEntry> entries;
  if (list == nullptr) {
    // No list at all: everyone may do everything.
    entries.push_back({true, 0, GENERIC_ALL, "S-1-1-0"});
    return entries;
  }
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* raw = nullptr;
    if (!::GetAce(list, i, &raw)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    // Allowed and denied entries share their layout; others (audit, objects) are not weighed.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) {
      continue;
    }
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    entries.push_back({header->AceType == ACCESS_ALLOWED_ACE_TYPE, header->AceFlags, ace->Mask,
                       win32::SidText(&ace->SidStart)});
  }
  return entries;
}

}  // namespace

OutsideAccess QueryOutsideAccess(const std::string& path, const std::string& serviceAccount) {
  OutsideAccess result;
  PSID owner = nullptr;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(win32::WidePath(path).c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
    return result;
  }
  win32::LocalMemory<void> owned(descriptor);
  std::vector<std::string> trusted = {kLocalSystemSid, kAdministratorsSid, kTrustedInstallerSid};
  if (!serviceAccount.empty()) {
    try {
      trusted.push_back(win32::AccountSid(serviceAccount));
    } catch (const std::exception&) {
      // An account the system no longer knows is trusted with nothing.
    }
  }
  const AccessVerdict verdict = JudgeAccess(win32::SidText(owner), Entries(list), trusted);
  result.known = true;
  result.writable = verdict.writable;
  result.readable = verdict.readable;
  for (const std::string& sid : verdict.sids) {
    result.who += (result.who.empty() ? "" : ", ") + AccountName(sid);
  }
  return result;
}

}  // namespace zirvo::platform

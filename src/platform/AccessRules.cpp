#include "platform/AccessRules.h"

#include <algorithm>

#include "base/Sha1.h"
#include "base/StringUtils.h"
#include "base/Unicode.h"

namespace zirvo::platform {

namespace {

constexpr std::string_view kVirtualAccountDomain = "NT SERVICE\\";
constexpr std::uint32_t kInheritOnly = 0x08;
// Generic rights, and the file rights that change content, entries, permissions or owner.
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kWriteRights = 0x00000002 | 0x00000004 | 0x00000040 | 0x00010000 |
                                       0x00040000 | 0x00080000 | kGenericWrite | kGenericAll;
constexpr std::uint32_t kReadRights = 0x00000001 | kGenericRead | kGenericAll;

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         SameText(std::string(text.substr(0, prefix.size())), std::string(prefix));
}

}  // namespace

std::string VirtualServiceAccount(std::string_view serviceName) {
  return std::string(kVirtualAccountDomain) + std::string(serviceName);
}

std::string ServiceSid(std::string_view serviceName) {
  std::string upper(serviceName);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  std::string utf16le;
  for (const char16_t unit : Utf8ToUtf16(upper)) {
    utf16le += static_cast<char>(unit & 0xFF);
    utf16le += static_cast<char>(unit >> 8);
  }
  const auto digest = Sha1(utf16le);
  std::string sid = "S-1-5-80";
  for (std::size_t i = 0; i < digest.size(); i += 4) {
    const std::uint32_t part = std::uint32_t{digest[i]} | (std::uint32_t{digest[i + 1]} << 8) |
                               (std::uint32_t{digest[i + 2]} << 16) |
                               (std::uint32_t{digest[i + 3]} << 24);
    sid += '-' + std::to_string(part);
  }
  return sid;
}

std::string WellKnownAccountSid(std::string_view account) {
  if (StartsWithText(account, kVirtualAccountDomain) &&
      account.size() > kVirtualAccountDomain.size()) {
    return ServiceSid(account.substr(kVirtualAccountDomain.size()));
  }
  for (const char* name : {"LocalSystem", "SYSTEM", "NT AUTHORITY\\SYSTEM", ".\\LocalSystem"}) {
    if (SameText(std::string(account), name)) return kLocalSystemSid;
  }
  return std::string();
}

AccessVerdict JudgeAccess(std::string_view ownerSid, const std::vector<AccessEntry>& entries,
                          const std::vector<std::string>& trustedSids) {
  AccessVerdict verdict;
  const auto trusted = [&](std::string_view sid) {
    return std::any_of(trustedSids.begin(), trustedSids.end(),
                       [&](const std::string& known) { return SameText(known, std::string(sid)); });
  };
  const auto name = [&](std::string_view sid) {
    if (std::find(verdict.sids.begin(), verdict.sids.end(), sid) == verdict.sids.end()) {
      verdict.sids.emplace_back(sid);
    }
  };
  if (!ownerSid.empty() && !trusted(ownerSid)) {
    verdict.writable = true;
    name(ownerSid);
  }
  for (const AccessEntry& entry : entries) {
    if (!entry.allows || (entry.flags & kInheritOnly) != 0 || trusted(entry.sid)) continue;
    const bool writes = (entry.rights & kWriteRights) != 0;
    const bool reads = (entry.rights & kReadRights) != 0;
    verdict.writable = verdict.writable || writes;
    verdict.readable = verdict.readable || reads;
    if (writes || reads) name(entry.sid);
  }
  return verdict;
}

std::string ProtectedFileSddl(std::string_view accountSid) {
  std::string sddl = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
  if (!accountSid.empty() && accountSid != kLocalSystemSid && accountSid != kAdministratorsSid) {
    sddl += "(A;;FA;;;" + std::string(accountSid) + ")";
  }
  return sddl;
}

}  // namespace zirvo::platform

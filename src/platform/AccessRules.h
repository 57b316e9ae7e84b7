// The rules that protect the service's files on Windows and judge who else may reach
// them, apart from the system calls so that they can be checked on any system. Accounts
// are security identifiers in their text form ("S-1-5-18").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zirvo::platform {

inline constexpr char kLocalSystemSid[] = "S-1-5-18";
inline constexpr char kAdministratorsSid[] = "S-1-5-32-544";
inline constexpr char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Access rights of files and folders (the Windows bits).
inline constexpr std::uint32_t kModifyRights = 0x001301BF;       // read, write, run, delete
inline constexpr std::uint32_t kReadExecuteRights = 0x001200A9;  // read, list and run
inline constexpr std::uint32_t kAddFileRight = 0x00000002;       // create files in a folder

// "NT SERVICE\<name>": the virtual account every service has, without a password.
std::string VirtualServiceAccount(std::string_view serviceName);

// The identifier of a service's virtual account, derived from its name as Windows does
// ("S-1-5-80-" and the SHA-1 of the upper-case UTF-16LE name as five little-endian
// numbers), so that no lookup is needed (some systems cannot look such names up).
// `serviceName` is UTF-8; only ASCII letters are put in upper case.
std::string ServiceSid(std::string_view serviceName);

// The identifier of an account that is known without asking the system: a virtual
// service account ("NT SERVICE\..."), the system account under its names; "" for others.
std::string WellKnownAccountSid(std::string_view account);

// One entry of an access list.
struct AccessEntry {
  bool allows = true;
  // The entry's inheritance flags; an entry only for children does not apply to the path.
  std::uint32_t flags = 0;
  std::uint32_t rights = 0;
  std::string sid;
};

struct AccessVerdict {
  bool writable = false;
  bool readable = false;
  // The other accounts that may write or read, each once, in the order of the list.
  std::vector<std::string> sids;
};

// Who beyond the trusted accounts may write (change, delete, change the permissions of)
// or read a path with that owner and access list. The owner may always change the
// permissions. Deny entries are not weighed: the verdict errs towards "open".
AccessVerdict JudgeAccess(std::string_view ownerSid, const std::vector<AccessEntry>& entries,
                          const std::vector<std::string>& trustedSids);

// The access list (SDDL) of the files the service creates: protected from its folder's
// entries, full control for the system, the administrators and the given account.
std::string ProtectedFileSddl(std::string_view accountSid);

}  // namespace zirvo::platform

// Rights of an account on the program's files, where files carry access lists (Windows).
// Linux keeps its permission bits and the unit's settings instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zirvo::platform {

// True where files carry access lists that the installation grants (Windows).
bool FileAccessListsApply();

// One grant: the rights (AccessRules.h) on a path; `inherited` passes them on to
// everything the folder holds and will hold.
struct AccessGrant {
  std::string path;
  std::uint32_t rights = 0;
  bool inherited = false;
};

// Adds an allowing entry for the account to each path's access list; the entries already
// there stay. `account` as operators write it (".\ZirvoService", "NT SERVICE\ZirvoService").
// Raises EOSError at the first path that cannot be changed.
void GrantAccess(const std::string& account, const std::vector<AccessGrant>& grants);

}  // namespace zirvo::platform

// The accounts of this system under which a service can be installed to run.
#pragma once

#include <string>

namespace zirvo::platform {

// True when an account of that name exists on this machine (Windows: a user account the
// local security authority knows; Linux: a user of the password database). Raises
// EOSError when the account database cannot be asked. Any thread.
bool AccountExists(const std::string& name);

// The name operators know the system's own account by, under which a service runs when
// it is installed without an account: "LocalSystem" on Windows, "root" on Linux.
const char* SystemAccountName();

// The account a service is installed under when its own account does not exist: on
// Windows its virtual account "NT SERVICE\<name>" (no password to keep, only the rights
// granted to it); "" on Linux, where that is the system's own account.
std::string FallbackServiceAccount(const std::string& serviceName);

}  // namespace zirvo::platform

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

}  // namespace zirvo::platform

// The account a registered service runs as, and whether that account may write the files
// the service writes: an operator's check must judge for the service, not for whoever
// runs the check.
#pragma once

#include <optional>
#include <string>

namespace zirvo::platform {

// The account the named service is registered to run as, as the manager names it (Linux:
// the unit's User=, "root" without one; Windows: the configured start name, such as
// "LocalSystem" or ".\ZirvoService"). Nothing when the service is not registered or its
// registration cannot be read. Any thread; never raises.
std::optional<std::string> RegisteredServiceAccount(const std::string& serviceName);

enum class WriteAccess { kAllowed, kDenied, kUnknown };

// Whether the account may write at the path: in a folder, create and replace files; a file,
// write into it. Linux judges from the permission bits of the path and of every folder on
// the way to it, for the account's user and groups (access lists are not read); Windows
// asks the system's access check for the account against the path's security descriptor.
// kUnknown when the account or the path cannot be looked up. Any thread; never raises.
WriteAccess AccountWriteAccess(const std::string& account, const std::string& path);

}  // namespace zirvo::platform

// What the service's account needs of the program's folder, granted at installation and
// by the "-permissions" command (for an installer that registers the service itself).
#pragma once

#include <string>
#include <vector>

#include "platform/FileAccess.h"

namespace zirvo::service {

// Read and run on the whole folder, and the creation of files in it (log, reply copy, the
// settings' temporary files); change on the settings file, the log, the reply copy and
// the default data folder "Private" (created when missing), each where it exists.
std::vector<platform::AccessGrant> ProgramFolderGrants(const std::string& executablePath);

// "-permissions [account]": grants them to the account (default "NT SERVICE\ZirvoService")
// without registering anything. Tells the outcome as -install does (a message, none on
// success with "-silent"). Returns the exit code, 0 or 1.
int RunPermissionsCommand(const std::vector<std::string>& arguments,
                          const std::string& executablePath);

}  // namespace zirvo::service

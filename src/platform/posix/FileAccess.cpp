#include "platform/FileAccess.h"

#include <cerrno>

#include "platform/SystemError.h"

namespace zirvo::platform {

bool FileAccessListsApply() { return false; }

void GrantAccess(const std::string&, const std::vector<AccessGrant>& grants) {
  if (!grants.empty()) throw EOSError(ENOTSUP);
}

}  // namespace zirvo::platform

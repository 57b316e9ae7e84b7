#include "platform/Accounts.h"

#include <pwd.h>

#include <cerrno>
#include <vector>

#include "base/Errors.h"
#include "platform/SystemError.h"

namespace zirvo::platform {

bool AccountExists(const std::string& name) {
  std::vector<char> buffer(16384);
  for (;;) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int error = ::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (found != nullptr) return true;
    // The calls a missing name gives, as the C library documents them.
    if (error == 0 || error == ENOENT || error == ESRCH || error == EBADF || error == EPERM) {
      return false;
    }
    if (error == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 4);
      continue;
    }
    throw EOSError(static_cast<std::uint32_t>(error));
  }
}

const char* SystemAccountName() { return "root"; }

std::string FallbackServiceAccount(const std::string&) { return std::string(); }

}  // namespace zirvo::platform

// One account of the password database, by name, for the posix/ files that judge who may
// touch the service's files.
#pragma once

#include <pwd.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace zirvo::platform::posix {

struct UserEntry {
  std::string name;
  uid_t uid = 0;
  gid_t primaryGroup = 0;
};

// Nothing when the account is unknown or the database cannot be read.
inline std::optional<UserEntry> FindUser(const std::string& name) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return std::nullopt;
  }
  return UserEntry{found->pw_name, found->pw_uid, found->pw_gid};
}

}  // namespace zirvo::platform::posix

// The account of a systemd unit, and write access judged from permission bits.
#include "platform/ServiceAccount.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "platform/posix/SystemdPaths.h"
#include "platform/posix/UserEntry.h"

namespace zirvo::platform {

namespace {

struct Identity {
  uid_t uid = 0;
  std::vector<gid_t> groups;
};

std::optional<Identity> LookUp(const std::string& account) {
  const std::optional<posix::UserEntry> found = posix::FindUser(account);
  if (!found) return std::nullopt;
  Identity identity;
  identity.uid = found->uid;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(found->name.c_str(), found->primaryGroup, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(found->name.c_str(), found->primaryGroup, groups.data(), &count) < 0) {
      return std::nullopt;
    }
  }
  groups.resize(static_cast<std::size_t>(count));
  identity.groups = std::move(groups);
  return identity;
}

// The permission class that applies to the identity, as the kernel chooses it: owner,
// else group, else others. `wanted` is given in the others' bits.
bool Permits(const struct stat& info, const Identity& identity, mode_t wanted) {
  if (info.st_uid == identity.uid) return (info.st_mode & (wanted << 6)) == (wanted << 6);
  for (gid_t group : identity.groups) {
    if (group == info.st_gid) return (info.st_mode & (wanted << 3)) == (wanted << 3);
  }
  return (info.st_mode & wanted) == wanted;
}

}  // namespace

std::optional<std::string> RegisteredServiceAccount(const std::string& serviceName) {
  std::ifstream unit(posix::UnitPath(serviceName));
  if (!unit) return std::nullopt;
  std::string account = "root";
  for (std::string line; std::getline(unit, line);) {
    if (line.rfind("User=", 0) == 0 && line.size() > 5) account = line.substr(5);
  }
  return account;
}

WriteAccess AccountWriteAccess(const std::string& account, const std::string& path) {
  const std::optional<Identity> identity = LookUp(account);
  struct stat info {};
  if (!identity || path.empty() || ::stat(path.c_str(), &info) != 0) return WriteAccess::kUnknown;
  // The superuser passes the permission bits (the unit drops no capability).
  if (identity->uid == 0) return WriteAccess::kAllowed;
  const mode_t write = S_ISDIR(info.st_mode) ? (S_IWOTH | S_IXOTH) : S_IWOTH;
  if (!Permits(info, *identity, write)) return WriteAccess::kDenied;
  // Every folder on the way must let the account through.
  std::string folder = path;
  while (true) {
    const auto slash = folder.find_last_of('/');
    if (slash == std::string::npos) break;
    folder = slash == 0 ? "/" : folder.substr(0, slash);
    struct stat step {};
    if (::stat(folder.c_str(), &step) != 0) return WriteAccess::kUnknown;
    if (!Permits(step, *identity, S_IXOTH)) return WriteAccess::kDenied;
    if (folder == "/") break;
  }
  return WriteAccess::kAllowed;
}

}  // namespace zirvo::platform

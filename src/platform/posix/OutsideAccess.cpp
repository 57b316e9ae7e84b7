// Who else may read or write a path, from its mode bits, its owner and group, its access
// list (when it has one) and the folders above it. Trusted: root and the service's own
// account (and the account's own group, when it has one of its name). The real path is
// judged: whoever may change a folder on the way may replace what lies below it, unless
// the folder is sticky and the entry belongs to a trusted account.
#include "platform/OutsideAccess.h"

#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/posix/UserEntry.h"

namespace zirvo::platform {

namespace {

struct Trusted {
  std::vector<uid_t> users{0};
  std::vector<gid_t> groups{0};

  bool User(uid_t uid) const {
    for (const uid_t user : users) {
      if (user == uid) return true;
    }
    return false;
  }
  bool Group(gid_t gid) const {
    for (const gid_t group : groups) {
      if (group == gid) return true;
    }
    return false;
  }
};

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(16384);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return "n°" + std::to_string(gid);
}

std::string UserName(uid_t uid) {
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return "n°" + std::to_string(uid);
}

Trusted TrustedAccounts(const std::string& account) {
  Trusted trusted;
  if (account.empty()) return trusted;
  const std::optional<posix::UserEntry> found = posix::FindUser(account);
  if (!found) return trusted;
  trusted.users.push_back(found->uid);
  // A primary group shared with other system accounts (nogroup) is no one's own.
  if (GroupName(found->primaryGroup) == account) trusted.groups.push_back(found->primaryGroup);
  return trusted;
}

std::string Mode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// The group bits of a path with an access list bound what its named entries get: they
// then stand for accounts that are not the owning group's.
bool HasAccessList(const std::string& path) {
  return ::lgetxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) > 0;
}

// The untrusted accounts the bits `others` (S_IWOTH...) and `group` (S_IWGRP...) let in,
// in the operator's terms; "" when none.
std::string Who(const std::string& path, const struct stat& info, const Trusted& trusted,
                mode_t others, mode_t group) {
  if ((info.st_mode & others) != 0) return "tous les utilisateurs, mode " + Mode(info.st_mode);
  if ((info.st_mode & group) == 0) return {};
  if (HasAccessList(path)) {
    return "les comptes de sa liste d'accès (ACL), mode " + Mode(info.st_mode);
  }
  if (trusted.Group(info.st_gid)) return {};
  return "le groupe " + GroupName(info.st_gid) + ", mode " + Mode(info.st_mode);
}

std::string Parent(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

OutsideAccess QueryOutsideAccess(const std::string& path, const std::string& serviceAccount) {
  OutsideAccess result;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  if (!resolved) return result;
  const std::string real = resolved.get();
  struct stat info {};
  if (::lstat(real.c_str(), &info) != 0) return result;
  const Trusted trusted = TrustedAccounts(serviceAccount);

  std::string writer;
  if (!trusted.User(info.st_uid)) {
    writer = "son propriétaire " + UserName(info.st_uid);
  } else {
    writer = Who(real, info, trusted, S_IWOTH, S_IWGRP);
  }
  std::string reader = trusted.User(info.st_uid) ? Who(real, info, trusted, S_IROTH, S_IRGRP)
                                                 : "son propriétaire " + UserName(info.st_uid);
  bool searchable = true;
  // Every folder up to the root: its owner, and whoever may rename or remove entries in it.
  std::string child = real;
  struct stat childInfo = info;
  while (child != "/") {
    const std::string folder = Parent(child);
    struct stat folderInfo {};
    if (::lstat(folder.c_str(), &folderInfo) != 0) return result;
    if (writer.empty()) {
      if (!trusted.User(folderInfo.st_uid)) {
        writer = "le propriétaire " + UserName(folderInfo.st_uid) + " du dossier parent " + folder;
      } else {
        const bool sticky = (folderInfo.st_mode & S_ISVTX) != 0;
        const std::string who = Who(folder, folderInfo, trusted, S_IWOTH, S_IWGRP);
        if (!who.empty() && !(sticky && trusted.User(childInfo.st_uid))) {
          writer = std::string(who).append(", dossier parent ").append(folder);
        }
      }
    }
    if (Who(folder, folderInfo, trusted, S_IXOTH, S_IXGRP).empty()) searchable = false;
    child = folder;
    childInfo = folderInfo;
  }

  result.known = true;
  result.writable = !writer.empty();
  result.readable = !reader.empty() && searchable;
  result.who = result.writable ? writer : result.readable ? reader : std::string();
  return result;
}

}  // namespace zirvo::platform

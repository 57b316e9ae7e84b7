#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/posix/WriteAll.h"

namespace zirvo::platform {

namespace {

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes the rename itself durable; a failure here loses nothing already replaced.
void SyncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// mkostemp's template: the file's name, ".tmp" and six letters or digits. The ".tmp" keeps
// an operator's "ZirvoSrv.ini.backup" from ever looking like a copy to remove.
constexpr std::string_view kTemporaryMark = ".tmp";
constexpr std::string_view kTemporarySuffix = ".tmpXXXXXX";

std::string BaseNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsTemporaryName(std::string_view name, std::string_view base) {
  if (name.size() != base.size() + kTemporarySuffix.size() || name.substr(0, base.size()) != base ||
      name.substr(base.size(), kTemporaryMark.size()) != kTemporaryMark) {
    return false;
  }
  for (const char c : name.substr(base.size() + kTemporaryMark.size())) {
    const bool letterOrDigit =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letterOrDigit) return false;
  }
  return true;
}

}  // namespace

char PathDelimiter() { return '/'; }

bool IsReadOnlyFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

int ReplaceFileContents(const std::string& path, std::string_view data, FlushMode mode,
                        NewFileAccess access) {
  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if (exists && IsReadOnlyFile(path)) return EACCES;
  if (exists && !S_ISREG(existing.st_mode)) return EISDIR;

  const std::string directory = DirectoryOf(path);
  std::string pattern = path + std::string(kTemporarySuffix);
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  const std::string tempPath(name.data());

  int error = 0;
  if (exists) {
    if (::fchmod(fd, existing.st_mode & 07777) != 0) error = errno;
    // Keeping the owner matters only when root edits an operator's file; an ordinary
    // user may not give the file away (EPERM) and loses nothing by keeping it. Any other
    // failure is a real one.
    if (!error && ::fchown(fd, existing.st_uid, existing.st_gid) != 0 && errno != EPERM) {
      error = errno;
    }
  } else {
    const mode_t permissions = access == NewFileAccess::kEveryone
                                   ? S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH
                                   : S_IRUSR | S_IWUSR;
    if (::fchmod(fd, permissions) != 0) error = errno;
  }
  if (!error) error = posix::WriteAll(fd, data);
  if (!error && mode == FlushMode::kToDisk && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::rename(tempPath.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(tempPath.c_str());
    return error;
  }
  if (mode == FlushMode::kToDisk) SyncDirectory(directory);
  return 0;
}

OrphanRemoval RemoveOrphanReplacements(const std::string& path) {
  OrphanRemoval result;
  const std::string directory = DirectoryOf(path);
  const std::string base = BaseNameOf(path);
  std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(directory.c_str()), ::closedir);
  if (!folder) return result;
  const int folderFd = ::dirfd(folder.get());
  while (const dirent* entry = ::readdir(folder.get())) {
    if (!IsTemporaryName(entry->d_name, base)) continue;
    // Looked at without following a link, and removed by its name in the folder looked
    // at: a link is never followed, whatever it points to.
    struct stat info {};
    if (::fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
      continue;
    }
    const std::string found = directory + "/" + entry->d_name;
    if (::unlinkat(folderFd, entry->d_name, 0) == 0) {
      result.removed.push_back(found);
    } else {
      result.failed.emplace_back(found, errno);
    }
  }
  return result;
}

int FlushFileToDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  // On the journalling file systems the service meets, a file's fsync also commits the
  // renames that came before it, so one call covers the whole series.
  int error = ::fsync(fd) != 0 ? errno : 0;
  if (::close(fd) != 0 && !error) error = errno;
  return error;
}

int ReadFileContents(const std::string& path, std::string& data, bool& missing) {
  data.clear();
  missing = false;
  // Non-blocking, so that a FIFO put in the file's place cannot hold the reader.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    missing = error == ENOENT || error == ENOTDIR;
    return error;
  }
  int error = 0;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    error = errno;
  } else if (!S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
  }
  char buffer[65536];
  while (!error) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count > 0) {
      data.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  ::close(fd);
  if (error) data.clear();
  return error;
}

}  // namespace zirvo::platform

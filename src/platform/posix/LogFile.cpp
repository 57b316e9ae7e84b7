#include "platform/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/Files.h"
#include "platform/posix/UniqueFd.h"
#include "platform/posix/WriteAll.h"

namespace zirvo::platform {

namespace {

class PosixAppendFile final : public AppendFile {
 public:
  explicit PosixAppendFile(posix::UniqueFd fd) : fd_(std::move(fd)) {}

  int Write(std::string_view data) override { return posix::WriteAll(fd_.Get(), data); }

  int Close() override { return fd_.Close(); }

 private:
  posix::UniqueFd fd_;
};

}  // namespace

std::unique_ptr<AppendFile> OpenLogFileForAppend(const std::string& path) {
  // Root ignores permission bits, so the read-only mark is checked by hand: an operator
  // who made the log read-only means it.
  if (IsReadOnlyFile(path)) return nullptr;
  posix::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.Valid()) return nullptr;
  // An open-file-description lock plays the Windows share mode: one writer at a time,
  // readers welcome. Only "held by someone else" counts as a failed open; a file system
  // without lock support must not silence the log.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd.Get(), F_OFD_SETLK, &lock) != 0 && (errno == EAGAIN || errno == EACCES)) {
    return nullptr;
  }
  return std::make_unique<PosixAppendFile>(std::move(fd));
}

}  // namespace zirvo::platform

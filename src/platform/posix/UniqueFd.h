// The one owner of a POSIX file descriptor for the posix/ files: closed when the owner
// goes, or earlier by Close, which reports the error a written file must not lose.
#pragma once

#include <unistd.h>

#include <cerrno>

namespace zirvo::platform::posix {

class UniqueFd {
 public:
  UniqueFd() = default;
  // Takes ownership; a negative value (a failed open) owns nothing.
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now: 0, or the errno of a failed close (after which the descriptor is gone
  // all the same, so it is never closed twice).
  int Close() {
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0 ? 0 : errno;
  }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace zirvo::platform::posix

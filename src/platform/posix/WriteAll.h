// Shared by the POSIX files that write whole buffers to a descriptor.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace zirvo::platform::posix {

// Writes every byte, going on after short writes and signals. Returns 0 or errno.
inline int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return 0;
}

}  // namespace zirvo::platform::posix

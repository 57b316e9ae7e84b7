#include "platform/Process.h"

#include <unistd.h>

#include <vector>

namespace zirvo::platform {

namespace {

std::string ReadExecutableLink() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

// Read once: an upgrade replaces the binary by a rename while the service runs, and the
// link then names the old file with " (deleted)" appended, which would send the log and
// the settings to new files of that name.
std::string ExecutablePath() {
  static const std::string path = ReadExecutableLink();
  return path;
}

}  // namespace zirvo::platform

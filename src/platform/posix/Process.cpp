#include "platform/Process.h"

#include <unistd.h>

#include <vector>

namespace zirvo::platform {

std::string ExecutablePath() {
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

// The loader reads its search path from the environment only at start and libraries are
// loaded by their versioned names from the system's folders: nothing to narrow.
void RestrictLibrarySearch() {}

}  // namespace zirvo::platform

#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace zirvo::platform {

std::uint32_t LastSystemError() { return static_cast<std::uint32_t>(errno); }

std::string SystemErrorText(std::uint32_t code) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not be the buffer.
  std::string text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace zirvo::platform

#include "platform/SystemError.h"

#include <windows.h>

namespace zirvo::platform {

std::uint32_t LastSystemError() { return GetLastError(); }

std::string SystemErrorText(std::uint32_t code) {
  char buffer[512];
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace zirvo::platform

#include "platform/ConsoleInput.h"

#include <iostream>

#include "base/Unicode.h"

namespace zirvo::platform {

std::optional<std::u16string> ReadInputLine() {
  std::string line;
  if (!std::getline(std::cin, line) && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return Utf8ToUtf16(line);
}

}  // namespace zirvo::platform

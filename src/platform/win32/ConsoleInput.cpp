#include "platform/ConsoleInput.h"

#include <windows.h>

#include <algorithm>
#include <iostream>
#include <iterator>

namespace zirvo::platform {

namespace {

void RemoveLineEnd(std::u16string& line) {
  while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r')) line.pop_back();
}

}  // namespace

std::optional<std::u16string> ReadInputLine() {
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input != INVALID_HANDLE_VALUE && input != nullptr && ::GetConsoleMode(input, &mode)) {
    // A console hands out its input in its own code page (850 on a French system) to
    // narrow reads; the wide read gives the characters themselves.
    std::u16string line;
    wchar_t buffer[256];
    for (;;) {
      DWORD read = 0;
      if (!::ReadConsoleW(input, buffer, static_cast<DWORD>(std::size(buffer)), &read, nullptr) ||
          read == 0) {
        break;
      }
      line.append(reinterpret_cast<const char16_t*>(buffer), read);
      if (line.find(u'\n') != std::u16string::npos) break;
    }
    if (line.empty() || line.front() == u'\x1A') return std::nullopt;
    line.erase(std::min(line.find(u'\n'), line.size()));
    RemoveLineEnd(line);
    return line;
  }
  std::string bytes;
  if (!std::getline(std::cin, bytes) && bytes.empty()) return std::nullopt;
  if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  if (bytes.empty()) return std::u16string();
  const int length =
      ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string line(static_cast<std::size_t>(length), u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                        reinterpret_cast<wchar_t*>(line.data()), length);
  return line;
}

}  // namespace zirvo::platform

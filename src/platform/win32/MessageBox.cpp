#include "platform/MessageBox.h"

#include <windows.h>

#include <iostream>
#include <string>

namespace zirvo::platform {

void ShowMessage(const std::string& title, const std::string& text, MessageKind kind) {
  ::MessageBoxA(nullptr, text.c_str(), title.c_str(),
                MB_OK | (kind == MessageKind::kError ? MB_ICONERROR : MB_ICONINFORMATION));
}

void PrintConsoleLine(const std::string& text) {
  // A console shows its own (OEM) code page, not the ANSI text of the program: write it
  // as UTF-16 there, and as the ANSI bytes when the output is redirected to a file.
  HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output != INVALID_HANDLE_VALUE && ::GetConsoleMode(output, &mode)) {
    const std::string line = text + "\r\n";
    const int length = ::MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()),
                                             nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                          length);
    DWORD written = 0;
    ::WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::cout << text << std::endl;
}

}  // namespace zirvo::platform

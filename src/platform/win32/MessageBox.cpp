#include "platform/MessageBox.h"

#include <windows.h>

#include <iostream>

namespace zirvo::platform {

void ShowMessage(const std::string& title, const std::string& text, MessageKind kind) {
  ::MessageBoxA(nullptr, text.c_str(), title.c_str(),
                MB_OK | (kind == MessageKind::kError ? MB_ICONERROR : MB_ICONINFORMATION));
}

void PrintConsoleLine(const std::string& text) { std::cout << text << std::endl; }

}  // namespace zirvo::platform

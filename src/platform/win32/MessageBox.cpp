#include "platform/MessageBox.h"

#include <windows.h>

#include <iostream>
#include <string>

namespace zirvo::platform {

namespace {

// A process on a window station nobody sees (an installer's custom action, a service)
// would wait for ever on a box that cannot be clicked.
bool InteractiveWindowStation() {
  USEROBJECTFLAGS flags{};
  HWINSTA station = ::GetProcessWindowStation();
  return station != nullptr &&
         ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

void ShowMessage(const std::string& title, const std::string& text, MessageKind kind) {
  const int answer =
      InteractiveWindowStation()
          ? ::MessageBoxA(nullptr, text.c_str(), title.c_str(),
                          MB_OK | (kind == MessageKind::kError ? MB_ICONERROR : MB_ICONINFORMATION))
          : 0;
  // No box could be shown (no interactive desktop, as in a remote shell or a headless
  // session): the operator still reads the text, on the console.
  if (answer != IDOK) {
    if (kind == MessageKind::kError) {
      PrintConsoleErrorLine(text);
    } else {
      PrintConsoleLine(text);
    }
  }
}

namespace {

// A console shows its own (OEM) code page, not the ANSI text of the program: write it
// as UTF-16 there, and as the ANSI bytes when the output is redirected to a file.
void PrintLine(DWORD handleKind, std::ostream& redirected, const std::string& text) {
  HANDLE output = ::GetStdHandle(handleKind);
  DWORD mode = 0;
  if (output != INVALID_HANDLE_VALUE && ::GetConsoleMode(output, &mode)) {
    const std::string line = text + "\r\n";
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                          length);
    DWORD written = 0;
    ::WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  // The stream is in text mode: every LF becomes CR LF, so CR LF in the text would come
  // out as CR CR LF.
  std::string lines = text;
  for (std::size_t at = lines.find("\r\n"); at != std::string::npos; at = lines.find("\r\n", at)) {
    lines.erase(at, 1);
  }
  redirected << lines << std::endl;
}

}  // namespace

void PrintConsoleLine(const std::string& text) { PrintLine(STD_OUTPUT_HANDLE, std::cout, text); }

void PrintConsoleErrorLine(const std::string& text) {
  PrintLine(STD_ERROR_HANDLE, std::cerr, text);
}

}  // namespace zirvo::platform

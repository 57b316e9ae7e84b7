#include "platform/Process.h"

#include <windows.h>

#include <mutex>
#include <vector>

namespace zirvo::platform {

std::string ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

namespace {

std::function<void()>& InterruptCleanUp() {
  static std::function<void()> cleanUp;
  return cleanUp;
}

// The system calls it on a thread of its own for each console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  static std::once_flag once;
  std::call_once(once, [] {
    if (InterruptCleanUp()) InterruptCleanUp()();
    // STATUS_CONTROL_C_EXIT, as a console program ended by Ctrl-C.
    ::ExitProcess(0xC000013A);
  });
  return TRUE;
}

}  // namespace

void OnOperatorInterrupt(std::function<void()> cleanUp) {
  InterruptCleanUp() = std::move(cleanUp);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace zirvo::platform

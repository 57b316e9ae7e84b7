#include "platform/Process.h"

#include <windows.h>

#include <mutex>
#include <vector>

#include "platform/win32/WidePath.h"

namespace zirvo::platform {

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return win32::PathFromWide({buffer.data(), length});
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

void RestrictLibrarySearch() {
  // Libraries loaded later by name come from the program's folder or System32 only:
  // never from the current directory, the Windows folder or a PATH folder, where any
  // user may put a file of the expected name.
  // Looked up rather than imported: a Windows 7 without its loader update lacks it, and
  // an import would keep the program from starting at all there.
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  const auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set != nullptr) set(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace zirvo::platform

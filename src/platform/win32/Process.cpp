#include "platform/Process.h"

#include <windows.h>

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

// Stands for a DLL that someone plants where a program might look for one: loading it only
// appends its own path to C:\planted-loaded.txt, which the checks read.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  HANDLE mark =
      CreateFileW(L"C:\\planted-loaded.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mark != INVALID_HANDLE_VALUE) {
    char line[MAX_PATH * 4] = {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), line,
                                         sizeof line - 2, nullptr, nullptr);
    line[size] = '\n';
    DWORD written = 0;
    WriteFile(mark, line, static_cast<DWORD>(size + 1), &written, nullptr);
    CloseHandle(mark);
  }
  return TRUE;
}

#include "platform/Files.h"

#include <windows.h>

#include <memory>
#include <string>

namespace zirvo::platform {

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};

}  // namespace

char PathDelimiter() { return '\\'; }

bool IsReadOnlyFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

int ReplaceFileContents(const std::string& path, std::string_view data, NewFileAccess) {
  if (IsReadOnlyFile(path)) return ERROR_ACCESS_DENIED;
  const std::string tempPath = path + ".tmp" + std::to_string(GetCurrentProcessId());
  HANDLE raw = CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  DWORD error = 0;
  {
    std::unique_ptr<void, HandleCloser> file(raw);
    DWORD written = 0;
    if (!WriteFile(raw, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
        written != data.size()) {
      error = GetLastError();
    } else if (!FlushFileBuffers(raw)) {
      error = GetLastError();
    }
  }
  if (!error &&
      !MoveFileExA(tempPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error) {
    DeleteFileA(tempPath.c_str());
    return static_cast<int>(error);
  }
  return 0;
}

}  // namespace zirvo::platform

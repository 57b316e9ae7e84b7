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

int ReplaceFileContents(const std::string& path, std::string_view data, FlushMode mode,
                        NewFileAccess) {
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
    } else if (mode == FlushMode::kToDisk && !FlushFileBuffers(raw)) {
      error = GetLastError();
    }
  }
  if (!error && !MoveFileExA(tempPath.c_str(), path.c_str(),
                             MOVEFILE_REPLACE_EXISTING |
                                 (mode == FlushMode::kToDisk ? MOVEFILE_WRITE_THROUGH : 0))) {
    error = GetLastError();
  }
  if (error) {
    DeleteFileA(tempPath.c_str());
    return static_cast<int>(error);
  }
  return 0;
}

int FlushFileToDisk(const std::string& path) {
  HANDLE raw = CreateFileA(path.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  std::unique_ptr<void, HandleCloser> file(raw);
  return FlushFileBuffers(raw) ? 0 : static_cast<int>(GetLastError());
}

int ReadFileContents(const std::string& path, std::string& data, bool& missing) {
  data.clear();
  missing = false;
  HANDLE raw = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return static_cast<int>(error);
  }
  std::unique_ptr<void, HandleCloser> file(raw);
  char buffer[65536];
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(raw, buffer, sizeof buffer, &count, nullptr)) {
      data.clear();
      return static_cast<int>(GetLastError());
    }
    if (count == 0) return 0;
    data.append(buffer, count);
  }
}

}  // namespace zirvo::platform

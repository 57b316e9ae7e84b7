#include "platform/Files.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <memory>
#include <string>

namespace zirvo::platform {

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};

// Creates the temporary file of a replacement under a name no other process can guess,
// beside the file it replaces. CREATE_NEW never opens a file someone put there first.
HANDLE CreateTemporaryBeside(const std::string& path, std::string& tempPath) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int attempt = 0;; ++attempt) {
    unsigned char random[8] = {};
    if (!BCRYPT_SUCCESS(
            BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      SetLastError(ERROR_GEN_FAILURE);
      return INVALID_HANDLE_VALUE;
    }
    tempPath = path + ".tmp";
    for (const unsigned char byte : random) {
      tempPath += kHex[byte >> 4];
      tempPath += kHex[byte & 0x0F];
    }
    HANDLE file = CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS || attempt == 9) {
      return file;
    }
  }
}

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
  std::string tempPath;
  HANDLE raw = CreateTemporaryBeside(path, tempPath);
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

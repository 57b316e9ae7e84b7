#include "platform/LogFile.h"

#include <windows.h>

#include "platform/win32/Security.h"
#include "platform/win32/WidePath.h"

namespace zirvo::platform {

namespace {

class Win32AppendFile final : public AppendFile {
 public:
  explicit Win32AppendFile(HANDLE handle) : handle_(handle) {}
  ~Win32AppendFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Win32AppendFile(const Win32AppendFile&) = delete;
  Win32AppendFile& operator=(const Win32AppendFile&) = delete;

  int Write(std::string_view data) override {
    while (!data.empty()) {
      DWORD written = 0;
      if (!WriteFile(handle_, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
        return static_cast<int>(GetLastError());
      }
      data.remove_prefix(written);
    }
    return 0;
  }

  int Close() override {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) ? 0 : static_cast<int>(GetLastError());
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<AppendFile> OpenLogFileForAppend(const std::string& path) {
  // A log the service creates is readable by the system, the administrators and its own
  // account only: its lines name the practice's servers and accounts.
  win32::ProtectedFileSecurity security;
  HANDLE handle = CreateFileW(win32::WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              security.Attributes(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  if (SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<Win32AppendFile>(handle);
}

}  // namespace zirvo::platform

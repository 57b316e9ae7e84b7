// Handles of the service control manager, closed with their owner. Shared by the Win32
// service manager files only.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace zirvo::platform::win32 {

struct ScHandleCloser {
  void operator()(SC_HANDLE handle) const {
    if (handle != nullptr) ::CloseServiceHandle(handle);
  }
};
using UniqueScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleCloser>;

}  // namespace zirvo::platform::win32

// The status reports of a running service on Windows, shared by the Win32 dispatcher.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/ServiceManager.h"

namespace zirvo::platform::win32 {

// Reports through the manager's registration; the manager owns the handle.
std::unique_ptr<ServiceStatusHandle> CreateStatusHandle(SERVICE_STATUS_HANDLE handle);

// Console mode: each status change is printed for the operator.
std::unique_ptr<ServiceStatusHandle> CreateConsoleStatusHandle(const std::string& name);

}  // namespace zirvo::platform::win32

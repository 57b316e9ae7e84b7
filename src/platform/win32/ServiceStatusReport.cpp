#include "platform/win32/ServiceStatusReport.h"

#include "platform/MessageBox.h"

namespace zirvo::platform::win32 {

namespace {

class Win32StatusHandle final : public ServiceStatusHandle {
 public:
  explicit Win32StatusHandle(SERVICE_STATUS_HANDLE handle) : handle_(handle) {}

  // The manager owns the handle: it needs no closing.
  std::uint32_t SetServiceStatus(const ServiceStatusRecord& status) override {
    SERVICE_STATUS record{};
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = status.currentState;
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    return ::SetServiceStatus(handle_, &record) ? 0 : ::GetLastError();
  }

 private:
  SERVICE_STATUS_HANDLE handle_;
};

class Win32ConsoleStatusHandle final : public ServiceStatusHandle {
 public:
  explicit Win32ConsoleStatusHandle(std::string name) : name_(std::move(name)) {}
  std::uint32_t SetServiceStatus(const ServiceStatusRecord& status) override {
    PrintConsoleLine(name_ + " : " + ServiceStateText(status.currentState));
    return 0;
  }

 private:
  std::string name_;
};

}  // namespace

std::unique_ptr<ServiceStatusHandle> CreateStatusHandle(SERVICE_STATUS_HANDLE handle) {
  return std::make_unique<Win32StatusHandle>(handle);
}

std::unique_ptr<ServiceStatusHandle> CreateConsoleStatusHandle(const std::string& name) {
  return std::make_unique<Win32ConsoleStatusHandle>(name);
}

}  // namespace zirvo::platform::win32

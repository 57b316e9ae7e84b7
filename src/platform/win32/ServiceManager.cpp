#include "platform/ServiceManager.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <type_traits>

#include "base/Errors.h"
#include "platform/MessageBox.h"
#include "platform/SystemError.h"

namespace zirvo::platform {

namespace {

struct ScHandleCloser {
  void operator()(SC_HANDLE handle) const {
    if (handle != nullptr) ::CloseServiceHandle(handle);
  }
};
using UniqueScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleCloser>;

// The access mask the state query asks of the manager and of the service: the standard
// rights with every manager right, which the service grants as query and control rights.
constexpr DWORD kQueryAccess = 0xF003F;

// The manager and the console call plain functions; these reach the service through the
// entries the process registered. The process holds one dispatcher and, per manager
// registration, one controller entry.
std::mutex entryMutex;
const ServiceMainEntry* activeServiceMain = nullptr;
std::atomic<ControllerEntry> activeController{nullptr};

void WINAPI Win32ServiceMain(DWORD argc, LPSTR* argv) {
  std::vector<std::string> arguments;
  for (DWORD i = 0; i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
  const ServiceMainEntry* entry = nullptr;
  {
    std::lock_guard<std::mutex> lock(entryMutex);
    entry = activeServiceMain;
  }
  if (entry != nullptr) (*entry)(arguments);
}

void WINAPI Win32ControlHandler(DWORD code) {
  if (ControllerEntry controller = activeController.load()) controller(code);
}

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

// Console mode: the status changes are printed for the operator.
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

class Win32ServiceDatabase final : public ServiceDatabase {
 public:
  explicit Win32ServiceDatabase(UniqueScHandle manager) : manager_(std::move(manager)) {}

  void CreateServiceEntry(const ServiceInstallation& service, std::uint32_t& tagId) override {
    std::string dependencies;
    for (const auto& name : service.dependencies) dependencies += name + '\0';
    if (!dependencies.empty()) dependencies += '\0';
    DWORD tag = tagId;
    const bool startName = !service.startName.empty();
    // Unquoted, a path with a blank ("C:\Program Files\...") would let the manager try
    // "C:\Program.exe" first: the classic unquoted service path weakness.
    const std::string imagePath = '"' + service.binaryPath + '"';
    UniqueScHandle created(::CreateServiceA(
        manager_.get(), service.name.c_str(), service.displayName.c_str(), SERVICE_ALL_ACCESS,
        service.serviceType, service.startType, service.errorControl, imagePath.c_str(),
        service.loadGroup.empty() ? nullptr : service.loadGroup.c_str(), tagId > 0 ? &tag : nullptr,
        dependencies.empty() ? nullptr : dependencies.c_str(),
        startName ? service.startName.c_str() : nullptr,
        startName ? service.password.c_str() : nullptr));
    if (!created) throw EOSError(::GetLastError());
    if (tagId > 0) tagId = tag;
  }

  void DeleteServiceEntry(const std::string& name) override {
    UniqueScHandle service(::OpenServiceA(manager_.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) throw EOSError(::GetLastError());
    if (!::DeleteService(service.get())) throw EOSError(::GetLastError());
  }

 private:
  UniqueScHandle manager_;
};

// Console mode: Ctrl-C, Ctrl-Break and closing the window stop the service.
BOOL WINAPI Win32ConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      Win32ControlHandler(1);
      return TRUE;
    case CTRL_SHUTDOWN_EVENT:
      Win32ControlHandler(5);
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL WINAPI Win32IgnoreLogOff(DWORD event) { return event == CTRL_LOGOFF_EVENT ? TRUE : FALSE; }

class Win32ServiceManager final : public ServiceControlManager {
 public:
  explicit Win32ServiceManager(bool console) : console_(console) {}

  std::uint32_t RunDispatcher(const std::vector<std::string>& serviceNames,
                              const ServiceMainEntry& serviceMain) override {
    {
      std::lock_guard<std::mutex> lock(entryMutex);
      activeServiceMain = &serviceMain;
    }
    std::uint32_t result = 0;
    if (console_) {
      ::SetConsoleCtrlHandler(Win32ConsoleControl, TRUE);
      std::vector<std::thread> mains;
      for (const auto& name : serviceNames) {
        mains.emplace_back([&serviceMain, name] { serviceMain({name}); });
      }
      for (auto& thread : mains) thread.join();
      ::SetConsoleCtrlHandler(Win32ConsoleControl, FALSE);
    } else {
      std::vector<std::string> names = serviceNames;
      std::vector<SERVICE_TABLE_ENTRYA> table;
      for (auto& name : names) table.push_back({name.data(), Win32ServiceMain});
      table.push_back({nullptr, nullptr});
      if (!::StartServiceCtrlDispatcherA(table.data())) result = ::GetLastError();
    }
    std::lock_guard<std::mutex> lock(entryMutex);
    activeServiceMain = nullptr;
    return result;
  }

  std::unique_ptr<ServiceStatusHandle> RegisterControlHandler(const std::string& name,
                                                              ControllerEntry controller,
                                                              std::uint32_t& error) override {
    activeController.store(controller);
    error = 0;
    if (console_) return std::make_unique<Win32ConsoleStatusHandle>(name);
    const SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerA(name.c_str(), Win32ControlHandler);
    if (handle == nullptr) {
      error = ::GetLastError();
      return nullptr;
    }
    return std::make_unique<Win32StatusHandle>(handle);
  }

  std::unique_ptr<ServiceDatabase> OpenServiceDatabase() override {
    return OpenSystemServiceDatabase();
  }

 private:
  bool console_;
};

}  // namespace

std::unique_ptr<ServiceDatabase> OpenSystemServiceDatabase() {
  UniqueScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) throw EOSError(::GetLastError());
  return std::make_unique<Win32ServiceDatabase>(std::move(manager));
}

std::unique_ptr<ServiceControlManager> CreateSystemServiceManager(bool console) {
  return std::make_unique<Win32ServiceManager>(console);
}

std::optional<std::uint32_t> QueryServiceCurrentState(const std::string& serviceName,
                                                      const std::string& machineName) {
  UniqueScHandle manager(
      ::OpenSCManagerA(machineName.empty() ? nullptr : machineName.c_str(), nullptr, kQueryAccess));
  if (!manager) return {};
  UniqueScHandle service(::OpenServiceA(manager.get(), serviceName.c_str(), kQueryAccess));
  manager.reset();
  if (!service) return {};
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service.get(), &status)) return {};
  return status.dwCurrentState;
}

void KeepRunningAtLogOff() { ::SetConsoleCtrlHandler(Win32IgnoreLogOff, TRUE); }

}  // namespace zirvo::platform

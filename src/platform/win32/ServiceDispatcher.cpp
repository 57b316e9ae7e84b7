// The service control manager's dispatcher, or the console standing in for it.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/ServiceManager.h"
#include "platform/win32/ServiceStatusReport.h"

namespace zirvo::platform {

namespace {

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
    if (console_) return win32::CreateConsoleStatusHandle(name);
    const SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerA(name.c_str(), Win32ControlHandler);
    if (handle == nullptr) {
      error = ::GetLastError();
      return nullptr;
    }
    return win32::CreateStatusHandle(handle);
  }

  std::unique_ptr<ServiceDatabase> OpenServiceDatabase() override {
    return OpenSystemServiceDatabase();
  }

 private:
  bool console_;
};

}  // namespace

std::unique_ptr<ServiceControlManager> CreateSystemServiceManager(bool console) {
  return std::make_unique<Win32ServiceManager>(console);
}

void KeepRunningAtLogOff() { ::SetConsoleCtrlHandler(Win32IgnoreLogOff, TRUE); }

}  // namespace zirvo::platform

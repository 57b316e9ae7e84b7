// The operating system's service manager as the service frame sees it: the dispatcher
// that hands the process to the manager, the registration that reports status and
// receives control codes, the service database that installs and uninstalls, and the
// status query by service name.
//
// Windows: the service control manager itself. Linux: systemd (notify datagrams, a
// runtime status record, control codes as signals, unit files), or the console when the
// operator runs the program in the foreground.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zirvo::platform {

// Values of the manager's status record (the Windows SERVICE_STATUS constants).
inline constexpr std::uint32_t kServiceKernelDriver = 0x01;
inline constexpr std::uint32_t kServiceFileSystemDriver = 0x02;
inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kServiceWin32ShareProcess = 0x20;
inline constexpr std::uint32_t kServiceInteractiveProcess = 0x100;
inline constexpr std::uint32_t kServiceAcceptStop = 0x01;
inline constexpr std::uint32_t kServiceAcceptPauseContinue = 0x02;
inline constexpr std::uint32_t kServiceAcceptShutdown = 0x04;
inline constexpr std::uint32_t kErrorServiceSpecificError = 1066;
inline constexpr std::uint32_t kServiceAutoStart = 2;
inline constexpr std::uint32_t kServiceDemandStart = 3;
inline constexpr std::uint32_t kServiceDisabled = 4;

// The manager's error codes, which the Linux stand-in raises as the Windows manager
// would, so that operators read the same codes on both systems.
inline constexpr std::uint32_t kErrorInvalidServiceAccount = 1057;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kErrorFailedServiceControllerConnect = 1063;
inline constexpr std::uint32_t kErrorServiceExists = 1073;

// One status report, field for field the manager's record.
struct ServiceStatusRecord {
  std::uint32_t serviceType = kServiceWin32OwnProcess;
  std::uint32_t currentState = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
};

// The controller entry: a plain function that takes one control code. The manager calls
// it on its dispatcher thread; it must only hand the code on and return.
using ControllerEntry = void (*)(std::uint32_t code);

// The shared service main entry: called by the manager on a thread of its own with the
// service name first and then the start arguments. The service runs until it returns.
using ServiceMainEntry = std::function<void(const std::vector<std::string>& arguments)>;

// The registration of one running service with the manager.
class ServiceStatusHandle {
 public:
  virtual ~ServiceStatusHandle() = default;
  // Sends one status report. Returns 0, or the system error code of the failed call.
  // Called from the service's own threads, one call at a time.
  virtual std::uint32_t SetServiceStatus(const ServiceStatusRecord& status) = 0;
};

// What an installation registers.
struct ServiceInstallation {
  std::string name;
  std::string displayName;
  std::uint32_t serviceType = kServiceWin32OwnProcess;
  std::uint32_t startType = kServiceAutoStart;
  std::uint32_t errorControl = 1;
  std::string binaryPath;
  std::string loadGroup;
  // Service names, group names with a leading '+'.
  std::vector<std::string> dependencies;
  // Empty means the local system account.
  std::string startName;
  std::string password;
  // Files an administrator looks for, as (label, full path): named in comment lines of
  // the unit on Linux; the Windows manager has no place for them.
  std::vector<std::pair<std::string, std::string>> documentedFiles;
};

// An open connection to the manager's database of installed services. Failures raise
// EOSError with the manager's (or the Linux stand-in's) error code.
class ServiceDatabase {
 public:
  virtual ~ServiceDatabase() = default;
  // Registers a service. tagId in: the requested tag (used only when positive); out: the
  // tag the manager assigned.
  virtual void CreateServiceEntry(const ServiceInstallation& service, std::uint32_t& tagId) = 0;
  // Removes a registered service; a running service is not stopped first.
  virtual void DeleteServiceEntry(const std::string& name) = 0;
};

// The manager as a whole. One instance per process, created on the main thread before
// any other thread starts (the Linux version blocks the control signals in the creating
// thread, so that every later thread inherits the mask and only the dispatcher's signal
// wait receives them).
class ServiceControlManager {
 public:
  virtual ~ServiceControlManager() = default;

  // Hands the calling thread to the manager: starts serviceMain for the named services as
  // the manager asks and returns when all of them have returned. Returns 0, or the
  // system error code when the process was not started by a manager (Windows: the
  // dispatcher's own error; Linux: kErrorFailedServiceControllerConnect).
  virtual std::uint32_t RunDispatcher(const std::vector<std::string>& serviceNames,
                                      const ServiceMainEntry& serviceMain) = 0;

  // Registers the controller entry of a service. Returns the registration, or null with
  // the system error code in error. Called from the service main entry.
  virtual std::unique_ptr<ServiceStatusHandle> RegisterControlHandler(const std::string& name,
                                                                      ControllerEntry controller,
                                                                      std::uint32_t& error) = 0;

  // Opens the database of installed services with all access. Raises EOSError.
  virtual std::unique_ptr<ServiceDatabase> OpenServiceDatabase() = 0;
};

// The manager of this system. With console set, the console stands in for it: the
// service runs in the foreground, its status changes are printed, Ctrl-C stops it.
std::unique_ptr<ServiceControlManager> CreateSystemServiceManager(bool console);

// The database of installed services of this system, as OpenServiceDatabase of the
// system's manager opens it (for callers that do not run a service).
std::unique_ptr<ServiceDatabase> OpenSystemServiceDatabase();

// The current-state code (1 stopped ... 7 paused) of a named service, or nothing when
// the manager or the service cannot be opened or queried (not installed, no rights).
// An empty machine name means the local machine; Linux knows only the local machine.
// Any thread; never raises.
std::optional<std::uint32_t> QueryServiceCurrentState(const std::string& serviceName,
                                                      const std::string& machineName);

// The French text for a current-state code as operators read it; "Etat du service
// inconnu ou service inexistant !" for a code outside 1 to 7.
const char* ServiceStateText(std::uint32_t currentState);

// Keeps the process alive when the interactive user logs off (Windows ends console
// processes at log-off unless told otherwise; Linux needs nothing).
void KeepRunningAtLogOff();

}  // namespace zirvo::platform

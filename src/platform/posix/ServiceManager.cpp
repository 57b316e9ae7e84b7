#include "platform/ServiceManager.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "base/Errors.h"
#include "platform/MessageBox.h"
#include "platform/SystemError.h"
#include "platform/posix/UniqueFd.h"

extern char** environ;

namespace zirvo::platform {

namespace {

constexpr const char* kDefaultUnitDirectory = "/etc/systemd/system";
constexpr const char* kDefaultRuntimeDirectory = "/run/zirvosrv";
constexpr const char* kRuntimeDirectoryName = "zirvosrv";

using posix::UniqueFd;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string UnitDirectory() {
  const std::string overridden = Environment("ZIRVOSRV_UNIT_DIR");
  return overridden.empty() ? kDefaultUnitDirectory : overridden;
}

std::string RuntimeDirectory() {
  const std::string overridden = Environment("ZIRVOSRV_RUNTIME_DIR");
  return overridden.empty() ? kDefaultRuntimeDirectory : overridden;
}

std::string UnitPath(const std::string& name) { return UnitDirectory() + "/" + name + ".service"; }
std::string RecordPath(const std::string& name) {
  return RuntimeDirectory() + "/" + name + ".status";
}

// The test systemd itself uses (sd_booted): its runtime directory exists only when it is
// the init system.
bool SystemdRuns() {
  struct stat info {};
  return ::lstat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

int ControlSignalToCode(int signal) {
  switch (signal) {
    case SIGTERM:
    case SIGINT:
      return 1;
    case SIGUSR1:
      return 2;
    case SIGUSR2:
      return 3;
    case SIGHUP:
      return 4;
    case SIGPWR:
      return 5;
    default:
      return 0;
  }
}

// Tells the dispatcher's signal wait that a service main entry has returned.
int WakeSignal() { return SIGRTMIN; }

sigset_t DispatcherSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP, SIGPWR}) sigaddset(&set, signal);
  sigaddset(&set, WakeSignal());
  return set;
}

// Writes a whole file under a temporary name and renames it into place, so that a
// reader sees either the old or the new record, never half of one.
int WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode) {
  const std::string temporary = path + ".tmp" + std::to_string(::getpid());
  UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  if (!fd.Valid()) return errno;
  std::string_view rest = content;
  while (!rest.empty()) {
    const ssize_t written = ::write(fd.Get(), rest.data(), rest.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::unlink(temporary.c_str());
      return error;
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  ::fchmod(fd.Get(), mode);
  const int closeError = fd.Close();
  if (closeError != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return error;
  }
  return 0;
}

// Runs systemctl with the given arguments and waits for it. Raises on failure.
void RunSystemctl(const std::vector<std::string>& arguments) {
  std::vector<std::string> words{"systemctl"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // The control signals are blocked in every thread of this process; systemctl must
  // not inherit that, or Ctrl-C could not interrupt it.
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  const std::unique_ptr<posix_spawnattr_t, int (*)(posix_spawnattr_t*)> attributesGuard(
      &attributes, ::posix_spawnattr_destroy);
  sigset_t none;
  sigemptyset(&none);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, "systemctl", nullptr, &attributes, argv.data(), environ);
  if (error != 0) throw EOSError(static_cast<std::uint32_t>(error));
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw EOSError(static_cast<std::uint32_t>(errno));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string command;
    for (const auto& word : words) command += (command.empty() ? "" : " ") + word;
    throw Exception("La commande « " + command + " » a échoué (code de sortie " +
                    std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ").");
  }
}

// systemd expands '%' specifiers and '$' variables in these settings; doubling keeps
// the text as it was given. A path with blanks must be quoted to stay one word.
std::string UnitValue(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '%' || c == '$') result += c;
    result += c;
  }
  return result;
}

std::string UnitCommand(const std::string& path) {
  const std::string escaped = UnitValue(path);
  if (escaped.find_first_of(" \t\"\\'") == std::string::npos) return escaped;
  std::string quoted = "\"";
  for (char c : escaped) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string UnitFileText(const ServiceInstallation& service) {
  std::string text = "[Unit]\nDescription=" + UnitValue(service.displayName) + "\n";
  std::string units;
  for (const auto& dependency : service.dependencies) {
    // Load-order groups have no systemd counterpart.
    if (dependency.empty() || dependency[0] == '+') continue;
    units += " " + dependency + ".service";
  }
  if (!units.empty()) text += "Requires=" + units.substr(1) + "\nAfter=" + units.substr(1) + "\n";
  text += "\n[Service]\nType=notify\nExecStart=" + UnitCommand(service.binaryPath) + "\n";
  if (!service.startName.empty()) text += "User=" + service.startName + "\n";
  text += std::string("RuntimeDirectory=") + kRuntimeDirectoryName + "\n";
  if (service.startType == kServiceAutoStart) {
    text += "\n[Install]\nWantedBy=multi-user.target\n";
  }
  return text;
}

class PosixServiceDatabase final : public ServiceDatabase {
 public:
  void CreateServiceEntry(const ServiceInstallation& service, std::uint32_t&) override {
    if (!service.startName.empty()) CheckAccount(service.startName);
    const std::string path = UnitPath(service.name);
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.Valid()) {
      throw EOSError(errno == EEXIST ? kErrorServiceExists : static_cast<std::uint32_t>(errno));
    }
    const std::string text = UnitFileText(service);
    int error = 0;
    std::string_view rest = text;
    while (!rest.empty() && error == 0) {
      const ssize_t written = ::write(fd.Get(), rest.data(), rest.size());
      if (written < 0) {
        if (errno != EINTR) error = errno;
        continue;
      }
      rest.remove_prefix(static_cast<std::size_t>(written));
    }
    if (error == 0 && ::fsync(fd.Get()) != 0) error = errno;
    const int closeError = fd.Close();
    if (error == 0) error = closeError;
    if (error != 0) {
      ::unlink(path.c_str());
      throw EOSError(static_cast<std::uint32_t>(error));
    }
    if (!ManagedBySystemd()) return;
    try {
      RunSystemctl({"daemon-reload"});
      if (service.startType == kServiceAutoStart)
        RunSystemctl({"enable", service.name + ".service"});
    } catch (...) {
      ::unlink(path.c_str());
      throw;
    }
  }

  void DeleteServiceEntry(const std::string& name) override {
    const std::string path = UnitPath(name);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      throw EOSError(errno == ENOENT ? kErrorServiceDoesNotExist
                                     : static_cast<std::uint32_t>(errno));
    }
    if (ManagedBySystemd()) RunSystemctl({"disable", name + ".service"});
    if (::unlink(path.c_str()) != 0) throw EOSError(static_cast<std::uint32_t>(errno));
    if (ManagedBySystemd()) RunSystemctl({"daemon-reload"});
  }

 private:
  // A unit directory chosen through the environment is not one systemd reads.
  static bool ManagedBySystemd() {
    return Environment("ZIRVOSRV_UNIT_DIR").empty() && SystemdRuns();
  }

  // The Windows manager refuses an account that does not exist; so does this one,
  // rather than leave a unit that systemd could never start.
  static void CheckAccount(const std::string& account) {
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int error = ::getpwnam_r(account.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (found != nullptr) return;
    if (error == 0 || error == ENOENT || error == ESRCH || error == EBADF || error == EPERM) {
      throw EOSError(kErrorInvalidServiceAccount);
    }
    throw EOSError(static_cast<std::uint32_t>(error));
  }
};

// The registration of a running service: notify datagrams to systemd (when it started
// the process), the runtime status record, and in console mode one line per change.
class PosixStatusHandle final : public ServiceStatusHandle {
 public:
  PosixStatusHandle(std::string name, bool console, UniqueFd socket, sockaddr_un address,
                    socklen_t addressLength)
      : name_(std::move(name)),
        console_(console),
        socket_(std::move(socket)),
        address_(address),
        addressLength_(addressLength) {}

  std::uint32_t SetServiceStatus(const ServiceStatusRecord& status) override {
    const char* text = ServiceStateText(status.currentState);
    // The record first: whoever hears the datagram finds the record already up to date.
    const std::string record =
        "State=" + std::to_string(status.currentState) +
        "\nControlsAccepted=" + std::to_string(status.controlsAccepted) +
        "\nCheckPoint=" + std::to_string(status.checkPoint) +
        "\nWaitHint=" + std::to_string(status.waitHint) +
        "\nWin32ExitCode=" + std::to_string(status.win32ExitCode) +
        "\nServiceSpecificExitCode=" + std::to_string(status.serviceSpecificExitCode) +
        "\nPid=" + std::to_string(::getpid()) + "\n";
    ::mkdir(RuntimeDirectory().c_str(), 0755);
    std::uint32_t error =
        static_cast<std::uint32_t>(WriteFileAtomically(RecordPath(name_), record, 0644));
    if (socket_.Valid()) {
      const std::uint32_t notifyError = Notify(status, text);
      if (error == 0) error = notifyError;
    }
    if (console_) PrintConsoleLine(name_ + " : " + text);
    return error;
  }

 private:
  std::uint32_t Notify(const ServiceStatusRecord& status, const char* text) {
    std::string message;
    switch (status.currentState) {
      case 4:
        message += "READY=1\n";
        break;
      case 3:
        message += "STOPPING=1\n";
        break;
      default:
        break;
    }
    message += std::string("STATUS=") + text + "\n";
    const bool pending = status.currentState == 2 || status.currentState == 3 ||
                         status.currentState == 5 || status.currentState == 6;
    if (pending) {
      message += "EXTEND_TIMEOUT_USEC=" +
                 std::to_string(static_cast<std::uint64_t>(status.waitHint) * 1000) + "\n";
    }
    // The fields of the manager's record that systemd has no word for, under the
    // prefix its protocol leaves to applications.
    message += "X_ZIRVOSRV_STATE=" + std::to_string(status.currentState) +
               "\nX_ZIRVOSRV_CONTROLS_ACCEPTED=" + std::to_string(status.controlsAccepted) +
               "\nX_ZIRVOSRV_CHECKPOINT=" + std::to_string(status.checkPoint) +
               "\nX_ZIRVOSRV_WAIT_HINT=" + std::to_string(status.waitHint) + "\n";
    const ssize_t sent = ::sendto(socket_.Get(), message.data(), message.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address_), addressLength_);
    return sent < 0 ? static_cast<std::uint32_t>(errno) : 0;
  }

  std::string name_;
  bool console_;
  UniqueFd socket_;
  sockaddr_un address_;
  socklen_t addressLength_;
};

class PosixServiceManager final : public ServiceControlManager {
 public:
  explicit PosixServiceManager(bool console) : console_(console) {
    sigset_t set = DispatcherSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }

  std::uint32_t RunDispatcher(const std::vector<std::string>& serviceNames,
                              const ServiceMainEntry& serviceMain) override {
    if (!console_ && Environment("NOTIFY_SOCKET").empty() && Environment("INVOCATION_ID").empty()) {
      return kErrorFailedServiceControllerConnect;
    }
    const pthread_t dispatcher = ::pthread_self();
    std::atomic<std::size_t> finished{0};
    std::vector<std::thread> mains;
    for (const auto& name : serviceNames) {
      mains.emplace_back([&, name] {
        serviceMain({name});
        ++finished;
        ::pthread_kill(dispatcher, WakeSignal());
      });
    }
    const sigset_t set = DispatcherSignals();
    while (finished.load() < serviceNames.size()) {
      int signal = 0;
      if (::sigwait(&set, &signal) != 0) continue;
      const int code = ControlSignalToCode(signal);
      if (code != 0) Deliver(static_cast<std::uint32_t>(code));
    }
    for (auto& thread : mains) thread.join();
    std::lock_guard<std::mutex> lock(mutex_);
    controller_ = nullptr;
    return 0;
  }

  std::unique_ptr<ServiceStatusHandle> RegisterControlHandler(const std::string& name,
                                                              ControllerEntry controller,
                                                              std::uint32_t& error) override {
    sockaddr_un address{};
    socklen_t addressLength = 0;
    UniqueFd socket;
    const std::string notifySocket = Environment("NOTIFY_SOCKET");
    if (!notifySocket.empty()) {
      if (notifySocket.size() >= sizeof address.sun_path ||
          (notifySocket[0] != '/' && notifySocket[0] != '@')) {
        error = EINVAL;
        return nullptr;
      }
      address.sun_family = AF_UNIX;
      std::memcpy(address.sun_path, notifySocket.data(), notifySocket.size());
      // A leading '@' names a socket in the abstract namespace.
      if (notifySocket[0] == '@') address.sun_path[0] = '\0';
      addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + notifySocket.size());
      socket = UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
      if (!socket.Valid()) {
        error = static_cast<std::uint32_t>(errno);
        return nullptr;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      controller_ = controller;
      // Codes that came before the service could take them (a stop right after the
      // start) are handed over now instead of being lost.
      for (std::uint32_t code : early_) controller_(code);
      early_.clear();
    }
    error = 0;
    return std::make_unique<PosixStatusHandle>(name, console_, std::move(socket), address,
                                               addressLength);
  }

  std::unique_ptr<ServiceDatabase> OpenServiceDatabase() override {
    return OpenSystemServiceDatabase();
  }

 private:
  void Deliver(std::uint32_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (controller_ != nullptr) {
      controller_(code);
    } else {
      early_.push_back(code);
    }
  }

  bool console_;
  std::mutex mutex_;
  ControllerEntry controller_ = nullptr;
  std::vector<std::uint32_t> early_;
};

bool ProcessAlive(long pid) {
  return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

std::unique_ptr<ServiceDatabase> OpenSystemServiceDatabase() {
  return std::make_unique<PosixServiceDatabase>();
}

std::unique_ptr<ServiceControlManager> CreateSystemServiceManager(bool console) {
  return std::make_unique<PosixServiceManager>(console);
}

std::optional<std::uint32_t> QueryServiceCurrentState(const std::string& serviceName,
                                                      const std::string& machineName) {
  if (!machineName.empty() && machineName != "localhost" && machineName != ".") return {};
  std::string record;
  {
    UniqueFd fd(::open(RecordPath(serviceName).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Valid()) {
      char buffer[512];
      ssize_t length = 0;
      while ((length = ::read(fd.Get(), buffer, sizeof buffer)) > 0) {
        record.append(buffer, static_cast<std::size_t>(length));
      }
    }
  }
  long state = 0;
  long pid = 0;
  std::size_t start = 0;
  while (start < record.size()) {
    std::size_t end = record.find('\n', start);
    if (end == std::string::npos) end = record.size();
    const std::string line = record.substr(start, end - start);
    if (line.rfind("State=", 0) == 0) state = std::strtol(line.c_str() + 6, nullptr, 10);
    if (line.rfind("Pid=", 0) == 0) pid = std::strtol(line.c_str() + 4, nullptr, 10);
    start = end + 1;
  }
  if (state > 0 && ProcessAlive(pid)) return static_cast<std::uint32_t>(state);
  struct stat info {};
  if (::stat(UnitPath(serviceName).c_str(), &info) == 0) return 1;
  return {};
}

void KeepRunningAtLogOff() {}

}  // namespace zirvo::platform

#include "platform/posix/ServiceStatusReport.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/posix/SystemdPaths.h"
#include "platform/posix/UniqueFd.h"

namespace zirvo::platform::posix {

namespace {

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
    // Usually there already (systemd makes it from the unit's RuntimeDirectory); any
    // failure to make it shows in the write that follows.
    ::mkdir(RuntimeDirectory().c_str(), 0755);
    // Any process reads the record to tell the service's state.
    std::uint32_t error = static_cast<std::uint32_t>(ReplaceFileContents(
        RecordPath(name_), record, FlushMode::kToDisk, NewFileAccess::kEveryone));
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

}  // namespace

std::unique_ptr<ServiceStatusHandle> CreateStatusHandle(const std::string& name, bool console,
                                                        std::uint32_t& error) {
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
  error = 0;
  return std::make_unique<PosixStatusHandle>(name, console, std::move(socket), address,
                                             addressLength);
}

}  // namespace zirvo::platform::posix

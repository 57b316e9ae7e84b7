// The state of a named service on Linux: the runtime status record of a live process,
// else stopped when its unit is installed.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/ServiceManager.h"
#include "platform/posix/SystemdPaths.h"
#include "platform/posix/UniqueFd.h"

namespace zirvo::platform {

namespace {

bool ProcessAlive(long pid) {
  return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

std::optional<std::uint32_t> QueryServiceCurrentState(const std::string& serviceName,
                                                      const std::string& machineName) {
  if (!machineName.empty() && machineName != "localhost" && machineName != ".") return {};
  std::string record;
  {
    posix::UniqueFd fd(::open(posix::RecordPath(serviceName).c_str(), O_RDONLY | O_CLOEXEC));
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
  if (::stat(posix::UnitPath(serviceName).c_str(), &info) == 0) return 1;
  return {};
}

}  // namespace zirvo::platform

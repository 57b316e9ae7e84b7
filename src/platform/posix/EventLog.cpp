#include "platform/EventLog.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace zirvo::platform {

namespace {

// syslog has one identity per process; entries of several sources take turns with it.
std::mutex syslogMutex;

class PosixSyslogEventSource final : public EventSource {
 public:
  explicit PosixSyslogEventSource(std::string source) : source_(std::move(source)) {}

  void ReportError(const std::string& text) override {
    std::lock_guard<std::mutex> lock(syslogMutex);
    ::openlog(source_.c_str(), LOG_PID, LOG_DAEMON);
    ::syslog(LOG_ERR, "%s", text.c_str());
    ::closelog();
  }

 private:
  std::string source_;
};

class PosixFileEventSource final : public EventSource {
 public:
  PosixFileEventSource(std::string path, std::string source)
      : path_(std::move(path)), source_(std::move(source)) {}

  void ReportError(const std::string& text) override {
    const std::string line = EventLogFileLine(source_, text);
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    // One write per entry: appends of other processes and threads never cut into it.
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
  }

 private:
  std::string path_;
  std::string source_;
};

}  // namespace

std::unique_ptr<EventSource> OpenEventSource(const std::string& sourceName) {
  const char* file = std::getenv("ZIRVOSRV_EVENTLOG");
  if (file != nullptr && *file != '\0') {
    return std::make_unique<PosixFileEventSource>(file, sourceName);
  }
  return std::make_unique<PosixSyslogEventSource>(sourceName);
}

}  // namespace zirvo::platform

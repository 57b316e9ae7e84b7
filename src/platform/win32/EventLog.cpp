#include "platform/EventLog.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <type_traits>

namespace zirvo::platform {

namespace {

struct EventSourceCloser {
  void operator()(HANDLE handle) const {
    if (handle != nullptr) ::DeregisterEventSource(handle);
  }
};
using UniqueEventSource = std::unique_ptr<std::remove_pointer_t<HANDLE>, EventSourceCloser>;

class Win32EventSource final : public EventSource {
 public:
  explicit Win32EventSource(UniqueEventSource handle) : handle_(std::move(handle)) {}

  void ReportError(const std::string& text) override {
    if (!handle_) return;
    const char* strings[] = {text.c_str()};
    ::ReportEventA(handle_.get(), EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
  }

 private:
  UniqueEventSource handle_;
};

// The same redirection as on Linux, so that scripts read entries the same way under Wine.
std::mutex fileMutex;

class Win32FileEventSource final : public EventSource {
 public:
  Win32FileEventSource(std::string path, std::string source)
      : path_(std::move(path)), source_(std::move(source)) {}

  void ReportError(const std::string& text) override {
    const std::string line = EventLogFileLine(source_, text);
    std::lock_guard<std::mutex> lock(fileMutex);
    std::ofstream(path_, std::ios::binary | std::ios::app) << line;
  }

 private:
  std::string path_;
  std::string source_;
};

}  // namespace

std::unique_ptr<EventSource> OpenEventSource(const std::string& sourceName) {
  const char* file = std::getenv("ZIRVOSRV_EVENTLOG");
  if (file != nullptr && *file != '\0') {
    return std::make_unique<Win32FileEventSource>(file, sourceName);
  }
  // A source the system refuses leaves the entries unwritten: there is nowhere else to
  // report that.
  return std::make_unique<Win32EventSource>(
      UniqueEventSource(::RegisterEventSourceA(nullptr, sourceName.c_str())));
}

}  // namespace zirvo::platform

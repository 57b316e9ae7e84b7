// The system's event log, where the service frame writes its failures.
#pragma once

#include <memory>
#include <string>

namespace zirvo::platform {

// A registered event source. Owned by whoever opened it; the registration ends with it.
// ReportError may be called from any thread.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // Writes one error entry (category 0, event 0, the text as its only insertion string).
  // A failure to write is silent: there is nowhere left to report it.
  virtual void ReportError(const std::string& text) = 0;
};

// Registers an event source under a name. Windows: the event log. Linux: syslog (facility
// daemon, the source name as identity), or, when the environment variable
// ZIRVOSRV_EVENTLOG names a file, that file: one entry per line, "source: text", with
// backslash, CR and LF written as \\, \r and \n. Never null.
std::unique_ptr<EventSource> OpenEventSource(const std::string& sourceName);

// One entry of the ZIRVOSRV_EVENTLOG file as described above, with its line end.
std::string EventLogFileLine(const std::string& source, const std::string& text);

}  // namespace zirvo::platform

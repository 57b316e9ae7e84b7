// The diagnostic log: one plain-text line per call, "date time : message" with CR LF, in
// a file beside the executable named after it with ".log". The file is opened and closed
// for every line, so each line has reached the operating system when WriteLog returns.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "base/DateTime.h"
#include "base/Log.h"

namespace zirvo::service {

// The log line for a message at a given local time, with its CR LF.
std::string FormatLogLine(const LocalDateTime& at, const std::string& message);

// What became of one line.
struct LogLineOutcome {
  bool written = false;
  // The system error code of a write or close that failed after the file was opened; 0
  // when the line was written or its file could not be opened.
  int writeError = 0;
};

// The text that tells of a write failure of the log at `path`.
std::string LogWriteErrorText(const std::string& path, int code);

// A log at a fixed path. WriteLog may be called from any thread: lines written at the
// same moment by threads of this process are serialised so that none is lost. It never
// raises: a line whose file cannot be opened (read-only, no rights, held by another
// process's writer) or taken (a full disk) is lost, and the outcome says which.
class LogWriter {
 public:
  explicit LogWriter(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }
  LogLineOutcome WriteLog(const std::string& message) const;
  // This file as a Log under `debug`.
  zirvo::Log AsLog(zirvo::Log::DebugSwitch debug) const {
    return zirvo::Log([writer = *this](const std::string& line) { writer.WriteLog(line); },
                      std::move(debug));
  }

 private:
  std::string path_;
};

// The running executable's path with ".log" in place of its extension, worked out anew
// at every call.
std::string DefaultLogFilePath();

// Writes one line to the default log.
void WriteLog(const std::string& message);

// Lets a wait pass. Empty means a real wait; in-process tests of the cycle hand in one
// that only notes the duration, so that the suite does not sit through the cycle's waits.
using WaitPassage = std::function<void(std::chrono::milliseconds)>;

// Blocks the calling thread for 0 to 59 seconds, logging before and after in debug mode. A number
// outside 0 to 59 raises EConvertError after the first line and before any wait. The real wait is
// measured on a steady clock: setting the wall clock back or forth does not change its length; a
// non-empty `passage` is called instead.
void WaitSeconds(int seconds, const zirvo::Log& log, const WaitPassage& passage = {});

}  // namespace zirvo::service

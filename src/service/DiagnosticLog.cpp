#include "service/DiagnosticLog.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/LogFile.h"
#include "platform/Process.h"
#include "platform/SystemError.h"

namespace zirvo::service {

namespace {

std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

std::string LogWriteErrorText(const std::string& path, int code) {
  return "Erreur d'écriture dans le journal " + platform::PathToText(path) + " : " +
         platform::SystemErrorText(static_cast<std::uint32_t>(code));
}

std::string FormatLogLine(const LocalDateTime& at, const std::string& message) {
  return DateTimeToStr(at) + " : " + message + "\r\n";
}

LogLineOutcome LogWriter::WriteLog(const std::string& message) const {
  // One lock for every log of the process: in practice they are one file, and a second
  // open from this process while the first holds the file would lose its line.
  std::lock_guard<std::mutex> lock(LogMutex());
  auto file = platform::OpenLogFileForAppend(path_);
  if (!file) return {};
  const std::string line = FormatLogLine(platform::LocalNow(), message);
  const int writeError = file->Write(line);
  const int closeError = file->Close();
  // A line the disk cannot take is lost like one whose file cannot be opened: the work
  // that logs it goes on.
  const int error = writeError != 0 ? writeError : closeError;
  return {error == 0, error};
}

std::string DefaultLogFilePath() { return ChangeFileExt(platform::ExecutablePath(), ".log"); }

void WriteLog(const std::string& message) { LogWriter(DefaultLogFilePath()).WriteLog(message); }

void WaitSeconds(int seconds, const zirvo::Log& log, const WaitPassage& passage) {
  const std::string count = std::to_string(seconds);
  log.DebugLine("Attente de " + count + " seconde(s).");
  if (seconds < 0 || seconds > 59) {
    throw EConvertError("Durée d'attente invalide : " + count +
                        " seconde(s), une valeur de 0 à 59 est attendue.");
  }
  if (passage) {
    passage(std::chrono::seconds(seconds));
  } else {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  log.DebugLine("Attente de " + count + " seconde(s) terminée.");
}

}  // namespace zirvo::service

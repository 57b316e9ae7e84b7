// The settings read that starts the service and every cycle: the service's own INI file
// (beside the executable, same name with ".ini"), or on request the desktop
// application's "Varnox.ini" and "Varnox.ver". Every value read is written back so that
// the file always lists the keys in effect, and the section Execution records how far
// the run got.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "base/Errors.h"
#include "config/IniFile.h"
#include "config/ServiceSettings.h"

namespace zirvo::config {

// The scrambled MySQL access code used when the settings name none (12 characters).
inline constexpr std::string_view kDefaultMySQLDBPwd = "DCF7A6666AB3B8884CDE5071";
inline constexpr std::string_view kDefaultGatewayHost = "passerelle-sms.quenzar.fr";
inline constexpr std::string_view kDefaultAccessCodeHost = "www.quenzar.fr";
// The largest interval whose period in milliseconds fits a signed 32-bit integer.
inline constexpr std::int32_t kMaxIntervalSeconds = 2147483;

// What a settings read changes in the service object besides the values it fills in.
// Called on the thread that runs the read.
class SettingsTarget {
 public:
  virtual ~SettingsTarget() = default;
  virtual void SetTimerInterval(std::uint32_t milliseconds) = 0;
  virtual std::uint32_t TimerInterval() const = 0;
  virtual bool SqlServerConnected() = 0;
  virtual void CloseSqlServerConnection() = 0;
  // The connection string built from the SQL Server login just read.
  virtual std::u16string BuildSQLServerConnectionString() = 0;
  virtual void SetSqlServerConnectionString(const std::u16string& connectionString) = 0;
  virtual std::u16string SqlServerConnectionString() = 0;
  // May raise Exception; the read logs it and goes on.
  virtual void SetServiceStartName(const std::string& name) = 0;
};

class SettingsReader {
 public:
  using Logger = std::function<void(const std::string&)>;
  // Told the message of a write-back that failed; by default the reader logs it as a
  // failed settings read, once per read.
  using WriteFailureReporter = std::function<void(const std::string& message)>;

  // The references must outlive the reader. executablePath decides where the files are.
  SettingsReader(std::string executablePath, Logger log, SettingsTarget& target,
                 TSQLServerSettings& sc, TServiceSettings& settings, std::atomic<bool>& debugMode);

  // One settings read. Errors of the file part are logged and absorbed; errors after it
  // (other than the start name's) reach the caller. A write-back that fails (a read-only
  // file or folder, a full disk) stops nothing: the read goes on with the values it read,
  // the failure goes to the reporter once. The file's progress markers are each replaced
  // atomically, and the file reaches the disk once, at the end. Returns false when the
  // read was abandoned because the desktop files name no usable SQL Server folder (the
  // login is then not up to date and must not be used).
  bool LireConfiguration();

  void SetWriteFailureReporter(WriteFailureReporter reporter) {
    reportWriteFailure_ = std::move(reporter);
  }

  // The folder "Varnox.ini" is looked for in, the executable's by default: a reader
  // working on a copy of the own file still reads the desktop file the service reads.
  void SetDesktopFolder(std::string folder) { desktopFolder_ = std::move(folder); }

  // The message of the error that ended the file part of the last read (logged as a
  // failed "étape 1"), or empty when that part ran to its end.
  const std::string& FilePartError() const { return filePartError_; }

  std::string OwnSettingsFile() const;

 private:
  // Steps up to the erase of Execution; returns whether the desktop files are asked for.
  bool ReadMainKeys(IniFile& own);
  void ReadOwnBranch(IniFile& own);
  // Returns false when the run must stop at once (no usable "Varnox.ver").
  bool ReadVarnoxBranch(IniFile& own, const std::string& varnoxIniPath);
  // Runs steps up to the end of the read; false on the abandon of the desktop branch.
  bool Run(IniFile& own);
  std::int32_t ApplyInterval(std::int32_t seconds);
  // A write-back whose failure is reported and absorbed.
  void WriteBack(IniFile& own, std::string_view section, std::string_view key,
                 std::string_view value);
  void EraseBack(IniFile& own, std::string_view section);
  void Flush(IniFile& own);
  void WriteFailed(const Exception& error);
  void Marker(IniFile& own, const std::string& text);
  void LogConnectionString();
  void Debug(const std::string& message);

  std::string executablePath_;
  Logger log_;
  SettingsTarget& target_;
  TSQLServerSettings& sc_;
  TServiceSettings& settings_;
  std::atomic<bool>& debugMode_;
  WriteFailureReporter reportWriteFailure_;
  std::string desktopFolder_;
  std::string filePartError_;
  bool writeFailed_ = false;
};

}  // namespace zirvo::config

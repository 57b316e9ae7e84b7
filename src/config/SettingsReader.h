// The settings read that starts the service and every cycle: the service's own INI file
// (beside the executable, same name with ".ini"), or on request the desktop
// application's "Varnox.ini" and "Varnox.ver". Every value read is written back so that
// the file always lists the keys in effect, and the section Execution records how far
// the run got.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/Errors.h"
#include "base/Log.h"
#include "config/IniFile.h"
#include "config/Settings.h"

namespace zirvo::config {

// The scrambled MySQL access code used when the settings name none (12 characters).
inline constexpr std::string_view kDefaultMySQLDBPwd = "DCF7A6666AB3B8884CDE5071";
inline constexpr std::string_view kDefaultGatewayHost = "passerelle-sms.quenzar.fr";
inline constexpr std::string_view kDefaultAccessCodeHost = "www.quenzar.fr";
// The largest interval whose period in milliseconds fits a signed 32-bit integer.
inline constexpr std::int32_t kMaxIntervalSeconds = 2147483;

// One settings read: the files and the value the last read left give the next value.
class SettingsReader {
 public:
  // Told the message of a write-back that failed; by default the reader logs it as a
  // failed settings read, once per read.
  using WriteFailureReporter = std::function<void(const std::string& message)>;

  // executablePath decides where the files are. The log's own debug switch is not asked:
  // the read follows the switch of the value it is reading.
  SettingsReader(std::string executablePath, const Log& log);
  SettingsReader(const SettingsReader&) = delete;
  SettingsReader& operator=(const SettingsReader&) = delete;

  // One settings read, from a copy of `previous`. Errors of the file part are logged and
  // absorbed (Outcome.filePartError); errors after it reach the caller, and no value is
  // made. A write-back that fails (a read-only file or folder, a full disk) stops
  // nothing: the read goes on with the values it read, the failure goes to the reporter
  // once. The file's progress markers are each replaced atomically, and the file reaches
  // the disk once, at the end. `sqlServerOpen` says whether the connection the value
  // replaces is open: the file then records that it is closed for the new login. When the
  // desktop files name no usable SQL Server folder the read stops there
  // (Outcome.completed false) and builds no connection string.
  Settings Read(const Settings& previous, bool sqlServerOpen);

  void SetWriteFailureReporter(WriteFailureReporter reporter) {
    reportWriteFailure_ = std::move(reporter);
  }

  // The folder "Varnox.ini" is looked for in, the executable's by default: a reader
  // working on a copy of the own file still reads the desktop file the service reads.
  void SetDesktopFolder(std::string folder) { desktopFolder_ = std::move(folder); }

  std::string OwnSettingsFile() const;

 private:
  // Steps up to the erase of Execution; returns whether the desktop files are asked for.
  bool ReadMainKeys(IniFile& own);
  void ReadOwnBranch(IniFile& own);
  // Returns false when the run must stop at once (no usable "Varnox.ver").
  bool ReadVarnoxBranch(IniFile& own, const std::string& varnoxIniPath);
  // Runs steps up to the end of the read; false on the abandon of the desktop branch.
  bool Run(IniFile& own, bool sqlServerOpen);
  std::uint32_t CheckedInterval(std::int32_t seconds);
  // A write-back whose failure is reported and absorbed.
  void WriteBack(IniFile& own, std::string_view section, std::string_view key,
                 std::string_view value);
  void EraseBack(IniFile& own, std::string_view section);
  void Flush(IniFile& own);
  void WriteFailed(const Exception& error);
  void Marker(IniFile& own, const std::string& text);
  void LogConnectionString();

  std::string executablePath_;
  // Follows value_.DebugMode.
  Log log_;
  WriteFailureReporter reportWriteFailure_;
  std::string desktopFolder_;
  // The value being read.
  Settings value_;
  bool writeFailed_ = false;
};

}  // namespace zirvo::config

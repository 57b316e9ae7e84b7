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

  // The references must outlive the reader. executablePath decides where the files are.
  SettingsReader(std::string executablePath, Logger log, SettingsTarget& target,
                 TSQLServerSettings& sc, TServiceSettings& settings, std::atomic<bool>& debugMode);

  // One settings read. Errors of the file part are logged and absorbed; errors after it
  // (other than the start name's) reach the caller.
  void LireConfiguration();

  std::string OwnSettingsFile() const;

 private:
  // Steps up to the erase of Execution; returns whether the desktop files are asked for.
  bool ReadMainKeys(IniFile& own);
  void ReadOwnBranch(IniFile& own);
  // Returns false when the run must stop at once (no usable "Varnox.ver").
  bool ReadVarnoxBranch(IniFile& own, const std::string& varnoxIniPath);
  std::int32_t ApplyInterval(std::int32_t seconds);
  void Marker(IniFile& own, const std::string& text);
  void LogConnectionString();
  void Debug(const std::string& message);

  std::string executablePath_;
  Logger log_;
  SettingsTarget& target_;
  TSQLServerSettings& sc_;
  TServiceSettings& settings_;
  std::atomic<bool>& debugMode_;
};

}  // namespace zirvo::config

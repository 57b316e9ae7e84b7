#include "config/SettingsReader.h"

#include <filesystem>
#include <system_error>

#include "base/DateTime.h"
#include "base/Errors.h"
#include "base/StringUtils.h"
#include "config/Common.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"

namespace zirvo::config {

namespace {

constexpr char kMainSection[] = "Main";
constexpr char kKernelSection[] = "DBKERNEL";
constexpr char kMySqlSection[] = "MyDBKERNEL";
constexpr char kExecutionSection[] = "Execution";
constexpr char kMarkerKey[] = "LastMessage2";

std::string Now() { return DateTimeToStr(platform::LocalNow()); }

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(FileSystemPath(path), error);
}

// Creates the directory and its parents. Only an empty name is an error; any other
// failure leaves the directory missing without a word, as the settings have always done.
void ForceDirectories(const std::string& directory) {
  if (directory.empty()) throw EInOutError("Unable to create directory", 0);
  std::error_code ignored;
  std::filesystem::create_directories(FileSystemPath(directory), ignored);
}

}  // namespace

SettingsReader::SettingsReader(std::string executablePath, const Log& log)
    : executablePath_(std::move(executablePath)),
      log_(log.WithDebug([this] { return value_.DebugMode; })) {}

std::string SettingsReader::OwnSettingsFile() const {
  return ChangeFileExt(executablePath_, ".ini");
}

void SettingsReader::WriteFailed(const Exception& error) {
  if (writeFailed_) return;
  writeFailed_ = true;
  if (reportWriteFailure_) {
    reportWriteFailure_(error.Message());
  } else {
    log_.Line("Erreur lors de la lecture de la configuration - étape 1 : " + error.Message());
  }
}

void SettingsReader::WriteBack(IniFile& own, std::string_view section, std::string_view key,
                               std::string_view value) {
  // After one failure the others would fail the same way: the file is left alone.
  if (writeFailed_) return;
  try {
    own.WriteString(section, key, value);
  } catch (const EInOutError&) {
    // A file that cannot be read is never written; its read has reported it.
    writeFailed_ = true;
  } catch (const Exception& error) {
    WriteFailed(error);
  }
}

void SettingsReader::EraseBack(IniFile& own, std::string_view section) {
  if (writeFailed_) return;
  try {
    own.EraseSection(section);
  } catch (const EInOutError&) {
    // A file that cannot be read is never written; its read has reported it.
    writeFailed_ = true;
  } catch (const Exception& error) {
    WriteFailed(error);
  }
}

void SettingsReader::Flush(IniFile& own) {
  try {
    own.Flush();
  } catch (const Exception& error) {
    WriteFailed(error);
  }
}

void SettingsReader::Marker(IniFile& own, const std::string& text) {
  WriteBack(own, kExecutionSection, kMarkerKey, text);
}

std::uint32_t SettingsReader::CheckedInterval(std::int32_t seconds) {
  // A negative interval or one whose milliseconds overflow would give the timer a
  // meaningless period; the file then shows the period really applied.
  if (seconds < 0) {
    log_.Line("Intervalle négatif ignoré (" + std::to_string(seconds) +
              " s) : l'intervalle par défaut de 3600 s est appliqué.");
    seconds = 3600;
  } else if (seconds > kMaxIntervalSeconds) {
    log_.Line("Intervalle trop grand (" + std::to_string(seconds) +
              " s) : " + std::to_string(kMaxIntervalSeconds) + " s sont appliquées.");
    seconds = kMaxIntervalSeconds;
  }
  return static_cast<std::uint32_t>(seconds);
}

bool SettingsReader::ReadMainKeys(IniFile& own) {
  value_.DebugMode = own.ReadBool(kMainSection, "DebugMode", false);
  WriteBack(own, kMainSection, "DebugMode", value_.DebugMode ? "1" : "0");
  log_.DebugLine("Chargement des paramètres de démarrage du service SMS. Mode debug actif.");

  Marker(own, "modification de l'intervale...");
  value_.Interval = CheckedInterval(own.ReadInteger(kMainSection, "Interval", 3600));
  WriteBack(own, kMainSection, "Interval", std::to_string(value_.Interval));

  const bool useVarnoxIni = own.ReadBool(kMainSection, "UseVarnox_ini", false);
  WriteBack(own, kMainSection, "UseVarnox_ini", useVarnoxIni ? "1" : "0");

  const auto readBack = [&](const char* section, const char* key, std::string_view fallback) {
    std::string value = own.ReadString(section, key, fallback);
    WriteBack(own, section, key, value);
    return value;
  };
  value_.ZirvoServiceName = readBack(kMainSection, "ZirvoServiceName", kServiceName);
  value_.MySQLDBPwd = readBack("DBConnexion", "MySQLDBPwd", kDefaultMySQLDBPwd);
  value_.MySQLDBPort = readBack("DBConnexion", "MySQLDBPort", "3306");
  value_.SQLServerDriver = readBack("ODBC", "SQLServerDriver", "");
  value_.SqlServerEncrypt = own.ReadBool("ODBC", "Encrypt", false);
  WriteBack(own, "ODBC", "Encrypt", value_.SqlServerEncrypt ? "1" : "0");
  value_.GatewayHost = readBack("Endpoints", "GatewayHost", kDefaultGatewayHost);
  value_.AccessCodeHost = readBack("Endpoints", "AccessCodeHost", kDefaultAccessCodeHost);
  const std::string verificationText = own.ReadString("Endpoints", "GatewayTlsVerification", "1");
  const std::string verification(TrimBlanks(verificationText));
  if (verification == "0" || verification == "1" || verification == "2") {
    value_.GatewayTlsVerification = verification[0] - '0';
  } else {
    log_.Line("Endpoints : GatewayTlsVerification=" + EscapeControlBytes(verification) +
              " n'est pas une valeur connue (0, 1 ou 2) : le mode 1 (observation) est appliqué.");
    value_.GatewayTlsVerification = 1;
  }
  WriteBack(own, "Endpoints", "GatewayTlsVerification",
            std::to_string(value_.GatewayTlsVerification));
  return useVarnoxIni;
}

void SettingsReader::ReadOwnBranch(IniFile& own) {
  const auto readLoginField = [&](const char* fieldName, const char* key, const char* fallback) {
    Marker(own, std::string("modification de SC.") + fieldName + "...");
    return platform::AnsiToWide(own.ReadString(kKernelSection, key, fallback));
  };
  TSQLServerSettings& sc = value_.SC;
  sc.ServerName = readLoginField("ServerName", "ServerName", "");
  WriteBack(own, kKernelSection, "ServerName", platform::WideToAnsi(sc.ServerName));
  sc.DatabaseName = readLoginField("DatabaseName", "DatabaseName", "");
  WriteBack(own, kKernelSection, "DatabaseName", platform::WideToAnsi(sc.DatabaseName));
  sc.UserName = readLoginField("UserName", "UserName", "sa");
  WriteBack(own, kKernelSection, "UserName", platform::WideToAnsi(sc.UserName));
  value_.ScrambledSAPW = platform::WideToAnsi(readLoginField("Password", "SAPW", ""));
  const std::string mySqlDataSource =
      own.ReadString(kMySqlSection, "QuenzarMySQLDB", "QuenzarMySQLDB");
  // Stored as read: the next run must find the same scrambled text, which it unscrambles
  // once again.
  WriteBack(own, kKernelSection, "SAPW", value_.ScrambledSAPW);
  WriteBack(own, kMySqlSection, "QuenzarMySQLDB", mySqlDataSource);

  Marker(own, "modification de DataBaseDir...");
  // The settings hold text; the default folder is the program's own path, which the text
  // may not be able to hold (a folder name outside the code page): that one is created by
  // its path, never by a look-alike of it.
  const std::string defaultFolder = ExtractFilePath(executablePath_) + "Private";
  const std::string defaultText = platform::PathToText(defaultFolder);
  const std::string folder = own.ReadString(kKernelSection, "Private", defaultText);
  value_.DataBaseDir = AddTrailingBackslash(folder);
  ForceDirectories(folder == defaultText ? AddTrailingBackslash(defaultFolder)
                                         : platform::TextToPath(value_.DataBaseDir));
  WriteBack(own, kKernelSection, "DataBaseDir", value_.DataBaseDir);
  WriteBack(own, kExecutionSection, "LireConfiguration", Now());
}

bool SettingsReader::ReadVarnoxBranch(IniFile& own, const std::string& varnoxIniPath) {
  log_.DebugLine("Lecture de Varnox.ini...");
  const IniFile varnoxIni(varnoxIniPath);
  value_.DataBaseDir = AddTrailingBackslash(varnoxIni.ReadString(
      "Database", "Private", platform::PathToText(ExtractFilePath(executablePath_)) + "Private"));
  const std::string sqlServerDir = varnoxIni.ReadString("Database", "Server", "");
  // The desktop application's files are outside text: their values reach the log with
  // their control bytes escaped, the line's own CR kept.
  log_.DebugLine("DatabaseDir=" + EscapeControlBytes(value_.DataBaseDir) + "\r" +
                 std::string(22, ' ') + "SQLServerDir=" + EscapeControlBytes(sqlServerDir));
  const std::string varnoxVerPath =
      platform::TextToPath(AddTrailingBackslash(sqlServerDir) + "Varnox.ver");
  if (TrimControl(sqlServerDir).empty() || !FileExists(varnoxVerPath)) {
    value_.Outcome.abandonMessage =
        "Le chemin de la base de données de Quenzar SQL n'est pas paramétré (SQLServerDir=[" +
        EscapeControlBytes(sqlServerDir) + "]). Abandon de la procédure.";
    log_.Line(value_.Outcome.abandonMessage);
    return false;
  }
  log_.DebugLine("Lecture de Varnox.ini terminée.");

  log_.DebugLine("Lecture de Varnox.ver...");
  const IniFile varnoxVer(varnoxVerPath);
  struct LoginField {
    const char* key;
    std::u16string& field;
    const char* fallback;
  };
  TSQLServerSettings& sc = value_.SC;
  for (const LoginField& login : {LoginField{"ServerName", sc.ServerName, ""},
                                  LoginField{"DatabaseName", sc.DatabaseName, ""},
                                  LoginField{"UserName", sc.UserName, "sa"}}) {
    Marker(own, std::string("modification de SC.") + login.key + " depuis Varnox.ver...");
    const std::string value = varnoxVer.ReadString(kKernelSection, login.key, login.fallback);
    login.field = platform::AnsiToWide(value);
    log_.DebugLine(std::string("SC.") + login.key + "=" + EscapeControlBytes(value));
    WriteBack(own, kKernelSection, login.key, value);
  }
  Marker(own, "modification de SC.Password depuis Varnox.ver...");
  const std::string scrambledPassword = varnoxVer.ReadString(kKernelSection, "SAPW", "");
  value_.ScrambledSAPW = scrambledPassword;
  log_.DebugLine("SC.Password=" + EscapeControlBytes(scrambledPassword));

  const std::string mySqlDataSource =
      own.ReadString(kMySqlSection, "QuenzarMySQLDB", "QuenzarMySQLDB");
  WriteBack(own, kKernelSection, "SAPW", scrambledPassword);
  WriteBack(own, kMySqlSection, "QuenzarMySQLDB", mySqlDataSource);
  WriteBack(own, kKernelSection, "DataBaseDir", value_.DataBaseDir);
  WriteBack(own, kExecutionSection, "LireConfiguration", Now());
  Marker(own, "Leture de Varnox.ver terminée.");
  return true;
}

void SettingsReader::LogConnectionString() {
  static constexpr char kPrefix[] = "LireConfiguration : ADO_MSSQLConnection.ConnectionString=";
  const auto masked = MaskPassword(value_.SqlServerConnectionString, 2);
  log_.Line(kPrefix + platform::WideToAnsi(masked.shown) +
            (masked.hasPassword ? "..." : " - AUCUN MOT DE PASSE"));
}

Settings SettingsReader::Read(const Settings& previous, bool sqlServerOpen) {
  value_ = previous;
  value_.Outcome = {};
  log_.DebugLine("Exécution de LireConfiguration...");
  IniFile own(OwnSettingsFile());
  own.DeferFlush();
  writeFailed_ = false;
  try {
    value_.Outcome.completed = Run(own, sqlServerOpen);
  } catch (...) {
    Flush(own);
    throw;
  }
  Flush(own);
  return value_;
}

bool SettingsReader::Run(IniFile& own, bool sqlServerOpen) {
  try {
    const bool useVarnoxIni = ReadMainKeys(own);
    EraseBack(own, kExecutionSection);
    const std::string varnoxIniPath =
        (desktopFolder_.empty() ? ExtractFilePath(executablePath_)
                                : AddTrailingBackslash(desktopFolder_)) +
        "Varnox.ini";
    if (useVarnoxIni && FileExists(varnoxIniPath)) {
      if (!ReadVarnoxBranch(own, varnoxIniPath)) return false;
    } else {
      ReadOwnBranch(own);
    }
  } catch (const Exception& error) {
    value_.Outcome.filePartError = error.Message();
    log_.Line("Erreur lors de la lecture de la configuration - étape 1 : " + error.Message());
  }

  // Always from the scrambled text: the plain one of a read that failed before it reached
  // SAPW is never unscrambled a second time.
  value_.SC.Password = value_.ScrambledSAPW.empty()
                           ? std::u16string()
                           : platform::AnsiToWide(UnscramblePassword(value_.ScrambledSAPW));
  // The service closes it before it takes the new login.
  if (sqlServerOpen) Marker(own, "La connexion MSSQL était ouverte !");
  value_.SqlServerConnectionString = db::BuildSQLServerConnectionString(value_.SC, log_);
  Marker(own, "Les paramètres de la connexion MSSQL ont été actualisés.");
  log_.DebugLine("Les paramètres de la connexion MSSQL ont été actualisés.");
  Marker(own, "LireConfiguration() terminée.");
  if (value_.SC.Password.empty()) {
    log_.Line("!! LireConfiguration : mot de passe de connexion MSSQL vide après décodage");
  }
  if (log_.Debug()) {
    LogConnectionString();
    log_.Line("Lecture de la configuration effectuée à " + Now());
  }
  return true;
}

}  // namespace zirvo::config

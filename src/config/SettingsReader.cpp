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

SettingsReader::SettingsReader(std::string executablePath, Logger log, SettingsTarget& target,
                               TSQLServerSettings& sc, TServiceSettings& settings,
                               std::atomic<bool>& debugMode)
    : executablePath_(std::move(executablePath)),
      log_(std::move(log)),
      target_(target),
      sc_(sc),
      settings_(settings),
      debugMode_(debugMode) {}

std::string SettingsReader::OwnSettingsFile() const {
  return ChangeFileExt(executablePath_, ".ini");
}

void SettingsReader::Debug(const std::string& message) {
  if (debugMode_) log_(message);
}

void SettingsReader::WriteFailed(const Exception& error) {
  if (writeFailed_) return;
  writeFailed_ = true;
  if (reportWriteFailure_) {
    reportWriteFailure_(error.Message());
  } else {
    log_("Erreur lors de la lecture de la configuration - étape 1 : " + error.Message());
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

std::int32_t SettingsReader::ApplyInterval(std::int32_t seconds) {
  // A negative interval or one whose milliseconds overflow would give the timer a
  // meaningless period; the file then shows the period really applied.
  if (seconds < 0) {
    log_("Intervalle négatif ignoré (" + std::to_string(seconds) +
         " s) : l'intervalle par défaut de 3600 s est appliqué.");
    seconds = 3600;
  } else if (seconds > kMaxIntervalSeconds) {
    log_("Intervalle trop grand (" + std::to_string(seconds) +
         " s) : " + std::to_string(kMaxIntervalSeconds) + " s sont appliquées.");
    seconds = kMaxIntervalSeconds;
  }
  target_.SetTimerInterval(static_cast<std::uint32_t>(seconds) * 1000u);
  return static_cast<std::int32_t>(target_.TimerInterval() / 1000u);
}

bool SettingsReader::ReadMainKeys(IniFile& own) {
  debugMode_ = own.ReadBool(kMainSection, "DebugMode", false);
  WriteBack(own, kMainSection, "DebugMode", debugMode_ ? "1" : "0");
  Debug("Chargement des paramètres de démarrage du service SMS. Mode debug actif.");

  Marker(own, "modification de l'intervale...");
  WriteBack(own, kMainSection, "Interval",
            std::to_string(ApplyInterval(own.ReadInteger(kMainSection, "Interval", 3600))));

  const bool useVarnoxIni = own.ReadBool(kMainSection, "UseVarnox_ini", false);
  WriteBack(own, kMainSection, "UseVarnox_ini", useVarnoxIni ? "1" : "0");

  const auto readBack = [&](const char* section, const char* key, std::string_view fallback) {
    std::string value = own.ReadString(section, key, fallback);
    WriteBack(own, section, key, value);
    return value;
  };
  settings_.ZirvoServiceName = readBack(kMainSection, "ZirvoServiceName", "ZirvoService");
  settings_.ScrambledMySQLDBPwd = readBack("DBConnexion", "MySQLDBPwd", kDefaultMySQLDBPwd);
  settings_.MySQLDBPwd = settings_.ScrambledMySQLDBPwd;
  settings_.MySQLDBPort = readBack("DBConnexion", "MySQLDBPort", "3306");
  settings_.SQLServerDriver = readBack("ODBC", "SQLServerDriver", "");
  settings_.SqlServerEncrypt = own.ReadBool("ODBC", "Encrypt", false);
  WriteBack(own, "ODBC", "Encrypt", settings_.SqlServerEncrypt ? "1" : "0");
  settings_.GatewayHost = readBack("Endpoints", "GatewayHost", kDefaultGatewayHost);
  settings_.AccessCodeHost = readBack("Endpoints", "AccessCodeHost", kDefaultAccessCodeHost);
  const std::string verificationText = own.ReadString("Endpoints", "GatewayTlsVerification", "1");
  const std::string verification(TrimBlanks(verificationText));
  if (verification == "0" || verification == "1" || verification == "2") {
    settings_.GatewayTlsVerification = verification[0] - '0';
  } else {
    log_("Endpoints : GatewayTlsVerification=" + EscapeControlBytes(verification) +
         " n'est pas une valeur connue (0, 1 ou 2) : le mode 1 (observation) est appliqué.");
    settings_.GatewayTlsVerification = 1;
  }
  WriteBack(own, "Endpoints", "GatewayTlsVerification",
            std::to_string(settings_.GatewayTlsVerification));
  return useVarnoxIni;
}

void SettingsReader::ReadOwnBranch(IniFile& own) {
  const auto readLoginField = [&](const char* fieldName, const char* key, const char* fallback) {
    Marker(own, std::string("modification de SC.") + fieldName + "...");
    return platform::AnsiToWide(own.ReadString(kKernelSection, key, fallback));
  };
  sc_.ServerName = readLoginField("ServerName", "ServerName", "");
  WriteBack(own, kKernelSection, "ServerName", platform::WideToAnsi(sc_.ServerName));
  sc_.DatabaseName = readLoginField("DatabaseName", "DatabaseName", "");
  WriteBack(own, kKernelSection, "DatabaseName", platform::WideToAnsi(sc_.DatabaseName));
  sc_.UserName = readLoginField("UserName", "UserName", "sa");
  WriteBack(own, kKernelSection, "UserName", platform::WideToAnsi(sc_.UserName));
  sc_.Password = readLoginField("Password", "SAPW", "");
  settings_.ScrambledSAPW = platform::WideToAnsi(sc_.Password);
  const std::string mySqlDataSource =
      own.ReadString(kMySqlSection, "QuenzarMySQLDB", "QuenzarMySQLDB");
  // Stored as read: the next run must find the same scrambled text, which it unscrambles
  // once again.
  WriteBack(own, kKernelSection, "SAPW", settings_.ScrambledSAPW);
  WriteBack(own, kMySqlSection, "QuenzarMySQLDB", mySqlDataSource);

  Marker(own, "modification de DataBaseDir...");
  // The settings hold text; the default folder is the program's own path, which the text
  // may not be able to hold (a folder name outside the code page): that one is created by
  // its path, never by a look-alike of it.
  const std::string defaultFolder = ExtractFilePath(executablePath_) + "Private";
  const std::string defaultText = platform::PathToText(defaultFolder);
  const std::string folder = own.ReadString(kKernelSection, "Private", defaultText);
  settings_.DataBaseDir = AddTrailingBackslash(folder);
  ForceDirectories(folder == defaultText ? AddTrailingBackslash(defaultFolder)
                                         : platform::TextToPath(settings_.DataBaseDir));
  WriteBack(own, kKernelSection, "DataBaseDir", settings_.DataBaseDir);
  WriteBack(own, kExecutionSection, "LireConfiguration", Now());
}

bool SettingsReader::ReadVarnoxBranch(IniFile& own, const std::string& varnoxIniPath) {
  Debug("Lecture de Varnox.ini...");
  const IniFile varnoxIni(varnoxIniPath);
  settings_.DataBaseDir = AddTrailingBackslash(varnoxIni.ReadString(
      "Database", "Private", platform::PathToText(ExtractFilePath(executablePath_)) + "Private"));
  const std::string sqlServerDir = varnoxIni.ReadString("Database", "Server", "");
  // The desktop application's files are outside text: their values reach the log with
  // their control bytes escaped, the line's own CR kept.
  Debug("DatabaseDir=" + EscapeControlBytes(settings_.DataBaseDir) + "\r" + std::string(22, ' ') +
        "SQLServerDir=" + EscapeControlBytes(sqlServerDir));
  const std::string varnoxVerPath =
      platform::TextToPath(AddTrailingBackslash(sqlServerDir) + "Varnox.ver");
  if (TrimControl(sqlServerDir).empty() || !FileExists(varnoxVerPath)) {
    log_("Le chemin de la base de données de Quenzar SQL n'est pas paramétré (SQLServerDir=[" +
         EscapeControlBytes(sqlServerDir) + "]). Abandon de la procédure.");
    return false;
  }
  Debug("Lecture de Varnox.ini terminée.");

  Debug("Lecture de Varnox.ver...");
  const IniFile varnoxVer(varnoxVerPath);
  struct LoginField {
    const char* key;
    std::u16string& field;
    const char* fallback;
  };
  for (const LoginField& login : {LoginField{"ServerName", sc_.ServerName, ""},
                                  LoginField{"DatabaseName", sc_.DatabaseName, ""},
                                  LoginField{"UserName", sc_.UserName, "sa"}}) {
    Marker(own, std::string("modification de SC.") + login.key + " depuis Varnox.ver...");
    const std::string value = varnoxVer.ReadString(kKernelSection, login.key, login.fallback);
    login.field = platform::AnsiToWide(value);
    Debug(std::string("SC.") + login.key + "=" + EscapeControlBytes(value));
    WriteBack(own, kKernelSection, login.key, value);
  }
  Marker(own, "modification de SC.Password depuis Varnox.ver...");
  const std::string scrambledPassword = varnoxVer.ReadString(kKernelSection, "SAPW", "");
  sc_.Password = platform::AnsiToWide(scrambledPassword);
  settings_.ScrambledSAPW = scrambledPassword;
  Debug("SC.Password=" + EscapeControlBytes(scrambledPassword));

  const std::string mySqlDataSource =
      own.ReadString(kMySqlSection, "QuenzarMySQLDB", "QuenzarMySQLDB");
  WriteBack(own, kKernelSection, "SAPW", scrambledPassword);
  WriteBack(own, kMySqlSection, "QuenzarMySQLDB", mySqlDataSource);
  WriteBack(own, kKernelSection, "DataBaseDir", settings_.DataBaseDir);
  WriteBack(own, kExecutionSection, "LireConfiguration", Now());
  Marker(own, "Leture de Varnox.ver terminée.");
  return true;
}

void SettingsReader::LogConnectionString() {
  static constexpr char kPrefix[] = "LireConfiguration : ADO_MSSQLConnection.ConnectionString=";
  const auto masked = MaskPassword(target_.SqlServerConnectionString(), 2);
  log_(kPrefix + platform::WideToAnsi(masked.shown) +
       (masked.hasPassword ? "..." : " - AUCUN MOT DE PASSE"));
}

bool SettingsReader::LireConfiguration() {
  Debug("Exécution de LireConfiguration...");
  IniFile own(OwnSettingsFile());
  own.DeferFlush();
  writeFailed_ = false;
  filePartError_.clear();
  bool completed = false;
  try {
    completed = Run(own);
  } catch (...) {
    settings_.MySQLDBPwd = settings_.ScrambledMySQLDBPwd;
    Flush(own);
    throw;
  }
  // Whether or not this read reached the access code, the next MySQL set-up starts from
  // its scrambled form.
  settings_.MySQLDBPwd = settings_.ScrambledMySQLDBPwd;
  Flush(own);
  return completed;
}

bool SettingsReader::Run(IniFile& own) {
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
    filePartError_ = error.Message();
    log_("Erreur lors de la lecture de la configuration - étape 1 : " + error.Message());
  }

  // From the scrambled copy: SC.Password is already plain when this read failed before
  // it reached SAPW.
  sc_.Password = settings_.ScrambledSAPW.empty()
                     ? std::u16string()
                     : platform::AnsiToWide(UnscramblePassword(settings_.ScrambledSAPW));
  if (target_.SqlServerConnected()) {
    target_.CloseSqlServerConnection();
    Marker(own, "La connexion MSSQL était ouverte !");
  }
  target_.SetSqlServerConnectionString(target_.BuildSQLServerConnectionString());
  Marker(own, "Les paramètres de la connexion MSSQL ont été actualisés.");
  Debug("Les paramètres de la connexion MSSQL ont été actualisés.");
  if (settings_.ZirvoServiceName != "ZirvoService") {
    try {
      target_.SetServiceStartName(settings_.ZirvoServiceName);
    } catch (const Exception& error) {
      log_("Echec lors du paramétrage de ZirvoService.ServiceStartName : " + error.Message());
    }
  }
  Marker(own, "LireConfiguration() terminée.");
  if (sc_.Password.empty()) {
    log_("!! LireConfiguration : mot de passe de connexion MSSQL vide après décodage");
  }
  if (debugMode_) {
    LogConnectionString();
    log_("Lecture de la configuration effectuée à " + Now());
  }
  return true;
}

}  // namespace zirvo::config

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
  return std::filesystem::is_regular_file(path, error);
}

// Creates the directory and its parents. Only an empty name is an error; any other
// failure leaves the directory missing without a word, as the settings have always done.
void ForceDirectories(const std::string& directory) {
  if (directory.empty()) throw EInOutError("Unable to create directory", 0);
  std::error_code ignored;
  std::filesystem::create_directories(directory, ignored);
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

void SettingsReader::Marker(IniFile& own, const std::string& text) {
  own.WriteString(kExecutionSection, kMarkerKey, text);
}

std::int32_t SettingsReader::ApplyInterval(std::int32_t seconds) {
  // A negative interval or one whose milliseconds overflow would give the timer a
  // meaningless period; the file then shows the period really applied.
  if (seconds < 0) {
    log_("Intervalle négatif ignoré (" + std::to_string(seconds) +
         " s) : l'intervalle par défaut de 3600 s est appliqué.");
    seconds = 3600;
  } else if (seconds > kMaxIntervalSeconds) {
    log_("Intervalle trop grand (" + std::to_string(seconds) + " s) : " +
         std::to_string(kMaxIntervalSeconds) + " s sont appliquées.");
    seconds = kMaxIntervalSeconds;
  }
  target_.SetTimerInterval(static_cast<std::uint32_t>(seconds) * 1000u);
  return static_cast<std::int32_t>(target_.TimerInterval() / 1000u);
}

bool SettingsReader::ReadMainKeys(IniFile& own) {
  debugMode_ = own.ReadBool(kMainSection, "DebugMode", false);
  own.WriteBool(kMainSection, "DebugMode", debugMode_);
  Debug("Chargement des paramètres de démarrage du service SMS. Mode debug actif.");

  Marker(own, "modification de l'intervale...");
  own.WriteInteger(kMainSection, "Interval",
                   ApplyInterval(own.ReadInteger(kMainSection, "Interval", 3600)));

  const bool useVarnoxIni = own.ReadBool(kMainSection, "UseVarnox_ini", false);
  own.WriteBool(kMainSection, "UseVarnox_ini", useVarnoxIni);

  const auto readBack = [&own](const char* section, const char* key, std::string_view fallback) {
    std::string value = own.ReadString(section, key, fallback);
    own.WriteString(section, key, value);
    return value;
  };
  settings_.ZirvoServiceName = readBack(kMainSection, "ZirvoServiceName", "ZirvoService");
  settings_.MySQLDBPwd = readBack("DBConnexion", "MySQLDBPwd", kDefaultMySQLDBPwd);
  settings_.MySQLDBPort = readBack("DBConnexion", "MySQLDBPort", "3306");
  settings_.SQLServerDriver = readBack("ODBC", "SQLServerDriver", "");
  settings_.GatewayHost = readBack("Endpoints", "GatewayHost", kDefaultGatewayHost);
  settings_.AccessCodeHost = readBack("Endpoints", "AccessCodeHost", kDefaultAccessCodeHost);
  return useVarnoxIni;
}

void SettingsReader::ReadOwnBranch(IniFile& own) {
  const auto readLoginField = [&](const char* fieldName, const char* key, const char* fallback) {
    Marker(own, std::string("modification de SC.") + fieldName + "...");
    return platform::AnsiToWide(own.ReadString(kKernelSection, key, fallback));
  };
  sc_.ServerName = readLoginField("ServerName", "ServerName", "");
  own.WriteString(kKernelSection, "ServerName", platform::WideToAnsi(sc_.ServerName));
  sc_.DatabaseName = readLoginField("DatabaseName", "DatabaseName", "");
  own.WriteString(kKernelSection, "DatabaseName", platform::WideToAnsi(sc_.DatabaseName));
  sc_.UserName = readLoginField("UserName", "UserName", "sa");
  own.WriteString(kKernelSection, "UserName", platform::WideToAnsi(sc_.UserName));
  sc_.Password = readLoginField("Password", "SAPW", "");
  const std::string mySqlDataSource = own.ReadString(kMySqlSection, "QuenzarMySQLDB", "QuenzarMySQLDB");
  // Stored as read: the next run must find the same scrambled text, which it unscrambles
  // once again.
  own.WriteString(kKernelSection, "SAPW", platform::WideToAnsi(sc_.Password));
  own.WriteString(kMySqlSection, "QuenzarMySQLDB", mySqlDataSource);

  Marker(own, "modification de DataBaseDir...");
  settings_.DataBaseDir = AddTrailingBackslash(
      own.ReadString(kKernelSection, "Private", ExtractFilePath(executablePath_) + "Private"));
  ForceDirectories(settings_.DataBaseDir);
  own.WriteString(kKernelSection, "DataBaseDir", settings_.DataBaseDir);
  own.WriteString(kExecutionSection, "LireConfiguration", Now());
}

bool SettingsReader::ReadVarnoxBranch(IniFile& own, const std::string& varnoxIniPath) {
  Debug("Lecture de Varnox.ini...");
  const IniFile varnoxIni(varnoxIniPath);
  settings_.DataBaseDir = AddTrailingBackslash(
      varnoxIni.ReadString("Database", "Private", ExtractFilePath(executablePath_) + "Private"));
  const std::string sqlServerDir = varnoxIni.ReadString("Database", "Server", "");
  Debug("DatabaseDir=" + settings_.DataBaseDir + "\r" + std::string(22, ' ') + "SQLServerDir=" +
        sqlServerDir);
  const std::string varnoxVerPath = AddTrailingBackslash(sqlServerDir) + "Varnox.ver";
  if (TrimControl(sqlServerDir).empty() || !FileExists(varnoxVerPath)) {
    log_("Le chemin de la base de données de Quenzar SQL n'est pas paramétré (SQLServerDir=[" +
         sqlServerDir + "]). Abandon de la procédure.");
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
    Debug(std::string("SC.") + login.key + "=" + value);
    own.WriteString(kKernelSection, login.key, value);
  }
  Marker(own, "modification de SC.Password depuis Varnox.ver...");
  const std::string scrambledPassword = varnoxVer.ReadString(kKernelSection, "SAPW", "");
  sc_.Password = platform::AnsiToWide(scrambledPassword);
  Debug("SC.Password=" + scrambledPassword);

  const std::string mySqlDataSource = own.ReadString(kMySqlSection, "QuenzarMySQLDB", "QuenzarMySQLDB");
  own.WriteString(kKernelSection, "SAPW", scrambledPassword);
  own.WriteString(kMySqlSection, "QuenzarMySQLDB", mySqlDataSource);
  own.WriteString(kKernelSection, "DataBaseDir", settings_.DataBaseDir);
  own.WriteString(kExecutionSection, "LireConfiguration", Now());
  Marker(own, "Leture de Varnox.ver terminée.");
  return true;
}

void SettingsReader::LogConnectionString() {
  static constexpr char kPrefix[] = "LireConfiguration : ADO_MSSQLConnection.ConnectionString=";
  const std::u16string connectionString = target_.SqlServerConnectionString();
  std::u16string upper = connectionString;
  for (auto& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  const auto position = upper.find(u"PASSWORD=");
  if (position == std::u16string::npos) {
    log_(kPrefix + platform::WideToAnsi(connectionString) + " - AUCUN MOT DE PASSE");
  } else {
    // Up to "Password=" and the first two characters of the password, never more.
    log_(kPrefix + platform::WideToAnsi(connectionString.substr(0, position + 11)) + "...");
  }
}

void SettingsReader::LireConfiguration() {
  Debug("Exécution de LireConfiguration...");
  IniFile own(OwnSettingsFile());
  try {
    const bool useVarnoxIni = ReadMainKeys(own);
    own.EraseSection(kExecutionSection);
    const std::string varnoxIniPath = ExtractFilePath(executablePath_) + "Varnox.ini";
    if (useVarnoxIni && FileExists(varnoxIniPath)) {
      if (!ReadVarnoxBranch(own, varnoxIniPath)) return;
    } else {
      ReadOwnBranch(own);
    }
  } catch (const Exception& error) {
    log_("Erreur lors de la lecture de la configuration - étape 1 : " + error.Message());
  }

  if (!sc_.Password.empty()) {
    sc_.Password = platform::AnsiToWide(UnscramblePassword(platform::WideToAnsi(sc_.Password)));
  }
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
}

}  // namespace zirvo::config

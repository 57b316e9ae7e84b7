#include "service/SelfCheck.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <system_error>
#include <vector>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "config/Common.h"
#include "config/IniFile.h"
#include "config/RemoteAccessCode.h"
#include "config/SettingsReader.h"
#include "db/Connection.h"
#include "db/ConnectionStrings.h"
#include "db/DateSerial.h"
#include "db/Query.h"
#include "db/Statements.h"
#include "delivery/DeliveryCheck.h"
#include "net/Connectivity.h"
#include "net/HttpClient.h"
#include "net/TlsVerdictLog.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace zirvo::service {

namespace {

namespace fs = std::filesystem;

constexpr char kServiceName[] = "ZirvoService";
constexpr int kStepCount = 7;

std::string Secret(const std::string& value) { return value.empty() ? "(vide)" : "(masqué)"; }

// A message as the end of a sentence, so that the advice after it reads as a new one.
std::string Sentence(const std::string& message) {
  if (!message.empty() && (message.back() == '.' || message.back() == '!')) return message;
  return message + ".";
}

// Messages of the system carry line breaks ("Socket Error # 111" CR LF text); a report
// line stays one line.
std::string OneLine(std::string text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      result += ' ';
    } else {
      result += text[i];
    }
  }
  return result;
}

std::string Shown(const std::string& value) { return value.empty() ? "(vide)" : value; }

std::string Plural(long long count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

// A folder of its own under the system's temporary folder, removed with everything in
// it when the object goes.
class PrivateFolder {
 public:
  PrivateFolder() {
    std::random_device random;
    std::error_code noTemporary;
    const fs::path base = fs::temp_directory_path(noTemporary);
    if (noTemporary)
      throw Exception("Aucun dossier temporaire utilisable : " + noTemporary.message());
    for (int attempt = 0; attempt < 20; ++attempt) {
      std::ostringstream name;
      name << "ZirvoSrv-check-" << std::hex << random() << random();
      fs::path candidate = base / name.str();
      std::error_code error;
      if (fs::create_directory(candidate, error)) {
        // The copy holds the scrambled secrets: for the owner's eyes only.
        fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, error);
        path_ = std::move(candidate);
        return;
      }
    }
    throw Exception("Impossible de créer un dossier temporaire dans " + base.string());
  }
  ~PrivateFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// What a settings read changes in the service object, kept here instead.
class CheckSettingsTarget final : public config::SettingsTarget {
 public:
  explicit CheckSettingsTarget(const db::TSQLServerSettings& sc) : sc_(sc) {}

  void SetTimerInterval(std::uint32_t milliseconds) override { interval_ = milliseconds; }
  std::uint32_t TimerInterval() const override { return interval_; }
  bool SqlServerConnected() override { return false; }
  void CloseSqlServerConnection() override {}
  std::u16string BuildSQLServerConnectionString() override {
    return db::BuildSQLServerConnectionString(sc_, false, [](const std::string&) {});
  }
  void SetSqlServerConnectionString(const std::u16string& value) override {
    connectionString_ = value;
  }
  std::u16string SqlServerConnectionString() override { return connectionString_; }
  void SetServiceStartName(const std::string&) override {}

  const std::u16string& ConnectionString() const { return connectionString_; }

 private:
  const db::TSQLServerSettings& sc_;
  std::uint32_t interval_ = 1000;
  std::u16string connectionString_;
};

struct StepResult {
  enum class Outcome { kPassed, kFailed, kNotChecked };
  Outcome outcome = Outcome::kPassed;
  std::string text;
  std::vector<std::string> details;

  static StepResult Passed(std::string text) { return {Outcome::kPassed, std::move(text), {}}; }
  static StepResult Failed(std::string text) { return {Outcome::kFailed, std::move(text), {}}; }
  static StepResult NotChecked(std::string text) {
    return {Outcome::kNotChecked, std::move(text), {}};
  }
};

class SelfCheck {
 public:
  explicit SelfCheck(const SelfCheckOptions& options)
      : options_(options), http_(ClientOptions(options.bound)) {}

  int Run();

 private:
  static net::HttpClientOptions ClientOptions(std::chrono::seconds bound) {
    net::HttpClientOptions client;
    client.waits.connectTimeout = bound;
    client.waits.readTimeout = bound;
    // A connect and a reply within the bound each, and no more for the whole request.
    client.waits.requestTimeout = 2 * bound;
    return client;
  }

  StepResult Settings();
  StepResult Database();
  StepResult Network();
  StepResult AccessCode();
  StepResult MySql();
  StepResult Gateway();
  StepResult ServiceManager();

  // Reads the settings the way a cycle does, from the private copy.
  void ReadSettingsCopy(const std::string& settingsText, bool settingsExist);
  void Report(int number, const std::string& name, const StepResult& result);
  std::string RealPath(const std::string& copyPath) const;

  const SelfCheckOptions& options_;
  net::HttpClient http_;
  std::unique_ptr<PrivateFolder> folder_;
  std::string copyExecutable_;
  db::TSQLServerSettings sc_;
  config::TServiceSettings settings_;
  std::atomic<bool> debugMode_{false};
  std::uint32_t intervalMilliseconds_ = 0;
  std::u16string sqlServerConnectionString_;
  std::vector<std::string> readerLines_;
  // The read stopped at the desktop files: the login it would leave is not to be used.
  bool readAbandoned_ = false;
  bool settingsUsable_ = false;
  bool accessCodeReady_ = false;
  std::string mySqlPassword_;
  std::vector<std::string> failedSteps_;
};

std::string SelfCheck::RealPath(const std::string& copyPath) const {
  const std::string copyFolder = ExtractFilePath(copyExecutable_);
  if (!copyFolder.empty() && copyPath.rfind(copyFolder, 0) == 0) {
    return ExtractFilePath(options_.executablePath) + copyPath.substr(copyFolder.size());
  }
  return copyPath;
}

void SelfCheck::ReadSettingsCopy(const std::string& settingsText, bool settingsExist) {
  folder_ = std::make_unique<PrivateFolder>();
  const std::string executableName =
      options_.executablePath.substr(ExtractFilePath(options_.executablePath).size());
  copyExecutable_ = (folder_->Path() / executableName).string();
  const std::string copyFile = ChangeFileExt(copyExecutable_, ".ini");
  if (settingsExist) {
    std::ofstream out(copyFile, std::ios::binary);
    out << settingsText;
    if (!out.flush()) throw Exception("Impossible de copier les paramètres dans " + copyFile);
  }
  // The desktop application's file is read where the service would read it: beside the
  // executable, here beside the copy. "Varnox.ver" is named by it and read in place.
  const fs::path varnoxIni = fs::path(ExtractFilePath(options_.executablePath) + "Varnox.ini");
  std::error_code ignored;
  if (fs::is_regular_file(varnoxIni, ignored)) {
    fs::copy_file(varnoxIni, folder_->Path() / "Varnox.ini", ignored);
  }
  // A settings read creates the data folder it names when it is missing; the check
  // creates nothing outside its own folder and says what the service would do.
  config::IniFile copy(copyFile);
  const std::string dataFolder = copy.ReadString("DBKERNEL", "Private", "");
  const bool dataFolderMissing = !TrimControl(dataFolder).empty() &&
                                 !fs::is_directory(AddTrailingBackslash(dataFolder), ignored);
  if (dataFolderMissing) {
    readerLines_.push_back("le dossier " + dataFolder +
                           " (clé Private de la section DBKERNEL) n'existe pas : le service le "
                           "créera.");
    copy.WriteString("DBKERNEL", "Private", (folder_->Path() / "Private").string());
  }

  CheckSettingsTarget target(sc_);
  config::SettingsReader reader(
      copyExecutable_, [this](const std::string& line) { readerLines_.push_back(line); }, target,
      sc_, settings_, debugMode_);
  readAbandoned_ = !reader.LireConfiguration();
  intervalMilliseconds_ = target.TimerInterval();
  sqlServerConnectionString_ = target.ConnectionString();
  if (dataFolderMissing &&
      settings_.DataBaseDir == AddTrailingBackslash((folder_->Path() / "Private").string())) {
    settings_.DataBaseDir = AddTrailingBackslash(dataFolder);
  }

  // The proxy keys are read by the cycle just before the access code; read them now so
  // that they are shown with the rest.
  config::RemoteAccessCode proxy(config::RemoteAccessCodeContext{
      copyFile, http_, settings_, debugMode_, [](const std::string&) {}, [](const std::string&) {},
      [](const Exception&) {}});
  proxy.ReadProxySettings();
}

StepResult SelfCheck::Settings() {
  const std::string path = ChangeFileExt(options_.executablePath, ".ini");
  std::error_code error;
  const bool exists = fs::exists(path, error);
  std::string text;
  if (exists) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    if (!fs::is_regular_file(path, error) || !in || !(content << in.rdbuf()) || in.bad()) {
      return StepResult::Failed(
          "le fichier " + path +
          " ne peut pas être lu (ce n'est pas un fichier, ou les droits manquent) : le service "
          "ne pourrait pas lire ses paramètres. Rendez-le lisible par le compte du service.");
    }
    text = content.str();
  }
  try {
    ReadSettingsCopy(text, exists);
  } catch (const Exception& failure) {
    return StepResult::Failed("lecture impossible : " + failure.Message());
  }

  std::vector<std::string> problems;
  std::vector<std::string> notes;
  for (const std::string& line : readerLines_) {
    if (line.rfind("Erreur lors de la lecture de la configuration", 0) == 0 ||
        line.find("Abandon de la procédure.") != std::string::npos) {
      problems.push_back(line);
    } else {
      notes.push_back(line);
    }
  }
  if (readAbandoned_ && problems.empty()) {
    problems.push_back("la lecture des fichiers de Varnox a été abandonnée.");
  }
  StepResult result;
  if (!problems.empty()) {
    result = StepResult::Failed(
        "la lecture s'arrêterait là et le cycle avec elle : " + problems.front() +
        " Corrigez le fichier " + path + " (ou Varnox.ini / Varnox.ver) puis relancez -check.");
  } else {
    settingsUsable_ = true;
    result = StepResult::Passed(exists ? "fichier " + path + " lu"
                                       : "fichier " + path +
                                             " absent : le service le créera avec les valeurs "
                                             "par défaut ci-dessous");
  }
  const bool fromVarnox = config::IniFile(ChangeFileExt(copyExecutable_, ".ini"))
                              .ReadBool("Main", "UseVarnox_ini", false);
  const std::string mySqlCode = settings_.MySQLDBPwd.empty() ? "(vide : téléchargé à chaque cycle)"
                                : settings_.MySQLDBPwd == config::kDefaultMySQLDBPwd
                                    ? "(valeur intégrée, masquée)"
                                    : "(masqué)";
  result.details = {
      "Main : DebugMode=" + std::string(debugMode_ ? "1" : "0") +
          ", Interval=" + std::to_string(intervalMilliseconds_ / 1000) + " s" + ", UseVarnox_ini=" +
          (fromVarnox ? "1" : "0") + ", ZirvoServiceName=" + Shown(settings_.ZirvoServiceName),
      "Connexion SQL Server : ServerName=" + Shown(platform::WideToAnsi(sc_.ServerName)) +
          ", DatabaseName=" + Shown(platform::WideToAnsi(sc_.DatabaseName)) +
          ", UserName=" + Shown(platform::WideToAnsi(sc_.UserName)) +
          ", SAPW=" + Secret(platform::WideToAnsi(sc_.Password)) + ", SQLServerDriver=" +
          (settings_.SQLServerDriver.empty() ? "(automatique)" : settings_.SQLServerDriver),
      "DBConnexion : MySQLDBPwd=" + mySqlCode + ", MySQLDBPort=" + Shown(settings_.MySQLDBPort),
      "Endpoints : GatewayHost=" + Shown(settings_.GatewayHost) +
          ", AccessCodeHost=" + Shown(settings_.AccessCodeHost),
      "Proxy : HTTPServer=" + Shown(settings_.HTTPServer) + ", HTTPPort=" +
          Shown(settings_.HTTPPort) + ", HTTPUserName=" + Shown(settings_.HTTPUserName) +
          ", HTTPPassword=" + Secret(settings_.HTTPPassword) +
          ", HTTPBasicAuthentification=" + (settings_.HTTPBasicAuthentification ? "1" : "0"),
      "DataBaseDir=" + Shown(RealPath(settings_.DataBaseDir)),
  };
  if (exists && platform::IsReadOnlyFile(path)) {
    notes.push_back(
        "le fichier est en lecture seule : le service ne pourra pas y réécrire les "
        "valeurs lues (il travaillera avec elles et le signalera au journal).");
  }
  if (intervalMilliseconds_ == 0) {
    notes.push_back(
        "Interval=0 : aucun cycle ne s'exécutera tant que l'intervalle n'aura pas été "
        "changé et le service redémarré.");
  }
  for (const std::string& note : notes) result.details.push_back("Remarque : " + RealPath(note));
  return result;
}

StepResult SelfCheck::Database() {
  if (!settingsUsable_) return StepResult::NotChecked("les paramètres n'ont pas pu être lus");
  db::Connection connection(sqlServerConnectionString_);
  connection.SetSqlServerDriver(platform::AnsiToWide(settings_.SQLServerDriver));
  connection.SetLoginTimeout(static_cast<int>(options_.bound.count()));
  connection.SetQueryTimeout(static_cast<int>(options_.bound.count()));
  std::string driver;
  try {
    driver = platform::WideToAnsi(connection.ChosenSqlServerDriver());
    connection.Open();
  } catch (const Exception& error) {
    return StepResult::Failed(
        (driver.empty() ? std::string() : "pilote ODBC « " + driver + " », ") +
        "connexion impossible : " + Sentence(error.Message()) +
        " Vérifiez ServerName, DatabaseName, UserName et SAPW (section DBKERNEL ou Varnox.ver), "
        "le pilote (clé SQLServerDriver de la section ODBC) et que le serveur accepte les "
        "connexions.");
  }
  std::string tables;
  for (const char* table : {"SMS_SENDED", "SMS_SENDED_DELIVERY"}) {
    db::Query count(connection);
    count.SetText(std::string("SELECT count(*) AS NbRecords FROM ") + table);
    try {
      count.Open();
      tables += std::string(tables.empty() ? "" : ", ") + table + " (" +
                Plural(count.FieldAsInteger("NbRecords"), "ligne", "lignes") + ")";
    } catch (const Exception& error) {
      return StepResult::Failed("pilote ODBC « " + driver +
                                " », connexion réussie, mais la table " + table +
                                " ne peut pas être lue : " + Sentence(error.Message()) +
                                " Vérifiez que la base est bien celle de Varnox et que le compte "
                                "a le droit de lire cette table.");
    }
  }
  // The selection of a cycle, its window and its conditions, counted per account instead
  // of fetched: nothing is asked of the gateway and nothing is updated.
  const std::string_view join = db::kSelectionLines[0];
  db::Query waiting(connection);
  waiting.AddLine("select MEMBER_ID, PASSWORD, count(*) as NbMessages" +
                  std::string(join.substr(join.find(" from "))));
  waiting.AddLine(std::string(db::kSelectionLines[1]));
  waiting.AddLine("group by MEMBER_ID, PASSWORD");
  const LocalDateTime now = platform::LocalNow();
  const double windowStart = delivery::WindowStartSerial(now);
  long long messages = 0;
  long accounts = 0;
  try {
    waiting.ParamByName("datedebut").SetDaySerial(windowStart);
    waiting.ParamByName("datefin").SetDateTime(now);
    waiting.Open();
    accounts = waiting.RecordCount();
    for (; !waiting.Eof(); waiting.Next()) messages += waiting.FieldAsInteger("NbMessages");
  } catch (const Exception& error) {
    return StepResult::Failed(
        "tables " + tables +
        ", mais la sélection des messages en attente échoue : " + Sentence(error.Message()) +
        " Vérifiez les colonnes SMS_ID, DELIVERED, SEND_DATE_TIME, "
        "DELIVERED_MESSAGE, FOURNISSEUR, MEMBER_ID et PASSWORD.");
  }
  return StepResult::Passed("pilote ODBC « " + driver + " », connexion réussie, tables " + tables +
                            ", " + Plural(messages, "message en attente", "messages en attente") +
                            " de statut depuis le " +
                            platform::FormatShortDate(db::SerialToDateTime(windowStart)) +
                            " pour " + Plural(accounts, "compte", "comptes"));
}

StepResult SelfCheck::Network() {
  try {
    const std::string address = net::IPWatch().LocalAddress();
    if (!net::CountsAsConnected(address)) {
      return StepResult::Failed(
          "l'adresse locale est 127.0.0.1 : le cycle s'arrêterait sur « Erreur : la connexion "
          "internet n'est pas active. ». Vérifiez la carte réseau et la connexion au réseau.");
    }
    return StepResult::Passed(address.empty()
                                  ? "aucune adresse IPv4 locale, ce qui ne bloque pas le cycle"
                                  : "adresse locale " + address);
  } catch (const Exception& error) {
    return StepResult::Failed("les adresses locales ne peuvent pas être lues : " +
                              Sentence(error.Message()));
  }
}

StepResult SelfCheck::AccessCode() {
  if (!settingsUsable_) return StepResult::NotChecked("les paramètres n'ont pas pu être lus");
  const bool stored = !settings_.MySQLDBPwd.empty();
  const bool builtIn = settings_.MySQLDBPwd == config::kDefaultMySQLDBPwd;
  // The endpoint's address is put together as the cycle does, from pieces.
  std::string url = "onnexi";
  url = "http://" + settings_.AccessCodeHost + "/c" + url;
  url += "on";
  std::string downloadError;
  config::RemoteAccessCode access(config::RemoteAccessCodeContext{
      ChangeFileExt(copyExecutable_, ".ini"), http_, settings_, debugMode_,
      [](const std::string&) {}, [this](const std::string& password) { mySqlPassword_ = password; },
      [&downloadError](const Exception& error) { downloadError = error.Message(); }});
  bool ready = false;
  try {
    ready = access.CheckProxy(url);
  } catch (const Exception& error) {
    return StepResult::Failed(Sentence(error.Message()) +
                              " Corrigez la section Proxy (-scramble).");
  }
  const net::ProxyParams& proxy = http_.Proxy();
  const std::string route = proxy.proxyServer.empty() ? std::string("en direct")
                                                      : "par le proxy " + proxy.proxyServer + ":" +
                                                            std::to_string(proxy.proxyPort);
  if (!downloadError.empty()) {
    return StepResult::Failed("le téléchargement depuis " + url + " (" + route +
                              ") échoue : " + Sentence(downloadError) +
                              " Vérifiez la clé AccessCodeHost (section Endpoints), la section "
                              "Proxy et l'accès à internet, ou enregistrez le code dans la clé "
                              "MySQLDBPwd.");
  }
  if (!ready) {
    return StepResult::Failed(
        std::string(stored ? "le code enregistré (clé MySQLDBPwd)" : "le code téléchargé") +
        " est vide une fois décodé. Enregistrez un code valide avec "
        "-scramble, ou videz la clé pour le télécharger.");
  }
  if (mySqlPassword_ == config::kInvalidScrambledText) {
    return StepResult::Failed(
        std::string(stored ? "le code enregistré (clé MySQLDBPwd)" : "le code téléchargé") +
        " n'est pas un texte brouillé valide. Enregistrez-le avec -scramble.");
  }
  accessCodeReady_ = true;
  if (!stored) return StepResult::Passed("téléchargé depuis " + url + " (" + route + ")");
  return StepResult::Passed(builtIn ? "valeur intégrée au programme"
                                    : "enregistré dans les paramètres (clé MySQLDBPwd)");
}

StepResult SelfCheck::MySql() {
  if (!accessCodeReady_) return StepResult::NotChecked("pas de code d'accès");
  db::Connection connection(db::MySQLConnectionString(platform::AnsiToWide(mySqlPassword_)));
  connection.SetLoginTimeout(static_cast<int>(options_.bound.count()));
  try {
    connection.Open();
  } catch (const Exception& error) {
    return StepResult::Failed(
        "ouverture impossible : " + Sentence(error.Message()) +
        " Vérifiez que la source de données ODBC système « QuenzarMySQLDB » existe, que son "
        "pilote MySQL est installé et que le serveur MySQL est joignable.");
  }
  return StepResult::Passed("ouverture réussie");
}

StepResult SelfCheck::Gateway() {
  if (!settingsUsable_) return StepResult::NotChecked("les paramètres n'ont pas pu être lus");
  const std::string& host = settings_.GatewayHost;
  if (TrimControl(host).empty()) {
    return StepResult::Failed(
        "aucun hôte n'est configuré : renseignez la clé GatewayHost de la "
        "section Endpoints.");
  }
  // The root of the gateway's site: an answer of any status proves the way there, and
  // the request carries neither account nor message id.
  const std::string url = "https://" + host + "/";
  // The certificate is held to what a cycle holds it to; the verdict is shown whatever
  // it is.
  const auto verification = static_cast<net::TlsVerification>(settings_.GatewayTlsVerification);
  net::TlsPeerVerdict verdict;
  http_.SetTlsVerification(
      verification,
      [&verdict](const std::string&, const net::TlsPeerVerdict& found) { verdict = found; });
  StepResult result = StepResult::Passed("connexion TLS à " + host + " et réponse HTTP reçue");
  try {
    http_.HttpGet(url);
  } catch (const HttpProtocolError& answer) {
    result.text += " (" + answer.StatusLine() + ")";
  } catch (const Exception& error) {
    return StepResult::Failed(
        "pas de réponse de " + url + " : " + Sentence(error.Message()) +
        " Vérifiez la clé GatewayHost (section Endpoints), l'accès à internet, le pare-feu, la "
        "présence de la bibliothèque OpenSSL et, en mode strict (GatewayTlsVerification=2), "
        "que le certificat de la passerelle est valable pour ce nom et émis par une autorité "
        "de confiance de cet ordinateur.");
  }
  if (verification == net::TlsVerification::kNone) {
    result.details.push_back("TLS : certificat non vérifié (GatewayTlsVerification=0).");
    return result;
  }
  result.details.push_back(net::TlsVerdictLine(host, verdict, verification));
  if (verdict.outcome != net::TlsPeerVerdict::Outcome::kAccepted) {
    result.details.push_back(
        "En mode strict (GatewayTlsVerification=2), cette connexion serait refusée.");
  }
  return result;
}

StepResult SelfCheck::ServiceManager() {
  std::optional<std::uint32_t> state;
  try {
    state = options_.stateQuery(kServiceName, "");
  } catch (const Exception&) {
    state.reset();
  }
  if (!state) {
    return StepResult::Failed(
        "inconnu du gestionnaire de services (non installé, ou droits insuffisants pour "
        "l'interroger). Installez-le avec « ZirvoSrv -install », ou relancez -check en "
        "administrateur.");
  }
  StepResult result = StepResult::Passed("installé ; " + db::ServiceStateText(state));
  if (*state == 1) result.text += " : aucun cycle ne s'exécute tant qu'il n'est pas démarré";
  return result;
}

void SelfCheck::Report(int number, const std::string& name, const StepResult& result) {
  std::string line = std::to_string(number) + "/" + std::to_string(kStepCount) + " " + name;
  switch (result.outcome) {
    case StepResult::Outcome::kPassed:
      line += " : OK - ";
      break;
    case StepResult::Outcome::kFailed:
      line += " : ÉCHEC - ";
      failedSteps_.push_back(name);
      break;
    case StepResult::Outcome::kNotChecked:
      line += " : NON VÉRIFIÉ - ";
      failedSteps_.push_back(name);
      break;
  }
  options_.print(OneLine(line + result.text));
  for (const std::string& detail : result.details) options_.print(OneLine("    " + detail));
}

int SelfCheck::Run() {
  Report(1, "Paramètres", Settings());
  Report(2, "Base SQL Server", Database());
  Report(3, "Réseau", Network());
  Report(4, "Code d'accès MySQL", AccessCode());
  Report(5, "Source de données « QuenzarMySQLDB »", MySql());
  Report(6, "Passerelle SMS", Gateway());
  Report(7, std::string("Service « ") + kServiceName + " »", ServiceManager());
  folder_.reset();
  if (failedSteps_.empty()) {
    options_.print("Bilan : les " + std::to_string(kStepCount) +
                   " étapes sont OK, un cycle a tout ce qu'il lui faut.");
    return 0;
  }
  std::string names;
  for (const std::string& name : failedSteps_) names += (names.empty() ? "" : ", ") + name;
  options_.print("Bilan : " + std::to_string(failedSteps_.size()) + " étape(s) sur " +
                 std::to_string(kStepCount) + " en échec ou non vérifiée(s) : " + names + ".");
  return 1;
}

}  // namespace

int RunSelfCheck(const SelfCheckOptions& options) { return SelfCheck(options).Run(); }

}  // namespace zirvo::service

#include "service/SelfCheck.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
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
#include "service/OutsideAccessReport.h"

namespace zirvo::service {

namespace {

namespace fs = std::filesystem;

using config::kServiceName;
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

// The read's own messages, two of which are English, as a French clause.
std::string FrenchReadError(const std::string& message) {
  static const std::string kUnwritable = "Unable to write to ";
  if (message == "Unable to create directory") {
    return "le dossier des données ne peut pas être créé, la clé Private de la section DBKERNEL "
           "est vide";
  }
  if (message.rfind(kUnwritable, 0) == 0) {
    return "le fichier " + message.substr(kUnwritable.size()) + " ne peut pas être réécrit";
  }
  std::string clause = message;
  while (!clause.empty() && clause.back() == '.') clause.pop_back();
  return clause;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Shown(const std::string& value) { return value.empty() ? "(vide)" : value; }

// A line of the settings read as the report may show it: operators paste the report into
// support requests, so it holds no secret and no part of one, whatever the debug mode.
// The scrambled password read from the desktop files is a secret too (anyone with the
// program can unscramble it): its line is left out.
std::optional<std::string> MaskedRemark(const std::string& line) {
  if (line.rfind("SC.Password=", 0) == 0) return std::nullopt;
  const auto masked = MaskPassword(platform::AnsiToWide(line), 0);
  if (!masked.hasPassword) return line;
  return platform::WideToAnsi(masked.shown) + "(masqué)";
}

std::string Plural(long long count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

// The private folder of the running check, which an operator's interrupt removes: it holds
// the scrambled secrets. Held by the interrupt's thread until the process ends.
std::mutex privateFolderMutex;
fs::path privateFolderPath;

void RemovePrivateFolderNow() {
  std::lock_guard<std::mutex> lock(privateFolderMutex);
  std::error_code ignored;
  if (!privateFolderPath.empty()) fs::remove_all(privateFolderPath, ignored);
  privateFolderPath.clear();
}

// A folder of its own under the system's temporary folder, removed with everything in
// it when the object goes.
class PrivateFolder {
 public:
  PrivateFolder() {
    std::lock_guard<std::mutex> lock(privateFolderMutex);
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
        privateFolderPath = path_;
        return;
      }
    }
    throw Exception("Impossible de créer un dossier temporaire dans " + base.string());
  }
  ~PrivateFolder() { RemovePrivateFolderNow(); }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
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

  enum class SettingsFile { kMissing, kReadable, kUnreadable };
  // Reads the settings the way a cycle does, from the private copy.
  void ReadSettingsCopy(const std::string& settingsText, SettingsFile state);
  // The way the HTTP client goes out now: direct, or the proxy and its port.
  std::string Route() const;
  void Report(int number, const std::string& name, const StepResult& result);
  // The text with every path into the private copy turned into the service's own.
  std::string RealPath(const std::string& text) const;

  const SelfCheckOptions& options_;
  net::HttpClient http_;
  std::unique_ptr<PrivateFolder> folder_;
  std::string copyExecutable_;
  // What the read made, its outcome included, with the proxy keys.
  config::Settings settings_;
  std::vector<std::string> readerLines_;
  bool settingsUsable_ = false;
  bool accessCodeReady_ = false;
  bool accessCodeStored_ = false;
  std::string mySqlPassword_;
  std::vector<std::string> failedSteps_;
};

std::string SelfCheck::RealPath(const std::string& text) const {
  const std::string copyFolder = ExtractFilePath(copyExecutable_);
  if (copyFolder.empty()) return text;
  const std::string realFolder = platform::PathToText(ExtractFilePath(options_.executablePath));
  std::string result = text;
  for (std::size_t at = result.find(copyFolder); at != std::string::npos;
       at = result.find(copyFolder, at + realFolder.size())) {
    result.replace(at, copyFolder.size(), realFolder);
  }
  return result;
}

std::string SelfCheck::Route() const {
  const net::ProxyParams& proxy = http_.Proxy();
  return proxy.proxyServer.empty()
             ? std::string("en direct")
             : "par le proxy " + proxy.proxyServer + ", port " + std::to_string(proxy.proxyPort);
}

void SelfCheck::ReadSettingsCopy(const std::string& settingsText, SettingsFile state) {
  folder_ = std::make_unique<PrivateFolder>();
  const std::string executableName =
      options_.executablePath.substr(ExtractFilePath(options_.executablePath).size());
  copyExecutable_ = PathString(folder_->Path() / FileSystemPath(executableName));
  const std::string copyFile = ChangeFileExt(copyExecutable_, ".ini");
  std::error_code ignored;
  if (state == SettingsFile::kReadable) {
    std::ofstream out(FileSystemPath(copyFile), std::ios::binary);
    out << settingsText;
    if (!out.flush()) throw Exception("Impossible de copier les paramètres dans " + copyFile);
  } else if (state == SettingsFile::kUnreadable) {
    // Something that exists and cannot be read: the read fails where the service's
    // fails, and goes on from there as the service's does.
    fs::create_directory(FileSystemPath(copyFile), ignored);
  }
  // A settings read creates the data folder it names when it is missing; the check
  // creates nothing outside its own folder and says what the service would do.
  config::IniFile copy(copyFile);
  const std::string dataFolder =
      state == SettingsFile::kReadable ? copy.ReadString("DBKERNEL", "Private", "") : "";
  const bool dataFolderMissing = !TrimControl(dataFolder).empty() &&
                                 !fs::is_directory(AddTrailingBackslash(dataFolder), ignored);
  if (dataFolderMissing) {
    readerLines_.push_back("le dossier " + dataFolder +
                           " (clé Private de la section DBKERNEL) n'existe pas : le service le "
                           "créera.");
    copy.WriteString("DBKERNEL", "Private", (folder_->Path() / "Private").string());
  }

  config::SettingsReader reader(
      copyExecutable_, Log([this](const std::string& line) { readerLines_.push_back(line); }));
  // The desktop application's files are read in place, as the service reads them.
  reader.SetDesktopFolder(ExtractFilePath(options_.executablePath));
  settings_ = reader.Read(config::Settings{}, false);
  if (dataFolderMissing &&
      settings_.DataBaseDir == AddTrailingBackslash((folder_->Path() / "Private").string())) {
    settings_.DataBaseDir = AddTrailingBackslash(dataFolder);
  }

  // The proxy keys are read by the cycle just before the access code; read them now so
  // that they are shown with the rest.
  config::RemoteAccessCode proxy(config::RemoteAccessCodeContext{
      copyFile, http_, Log(), [](const std::string&) {}, [](const Exception&) {}});
  try {
    settings_.Proxy = proxy.ReadProxySettings(settings_.Proxy);
  } catch (const Exception& error) {
    // An unreadable file is reported once, by the read above.
    if (state != SettingsFile::kUnreadable)
      readerLines_.push_back("les clés de la section Proxy ne peuvent pas être lues : " +
                             Sentence(error.Message()));
  }
}

StepResult SelfCheck::Settings() {
  const std::string file = ChangeFileExt(options_.executablePath, ".ini");
  // Shown as text; opened by its path.
  const std::string path = platform::PathToText(file);
  std::error_code error;
  const bool exists = fs::exists(FileSystemPath(file), error);
  std::string text;
  bool missing = false;
  const bool readable = exists && platform::ReadFileContents(file, text, missing) == 0;
  try {
    ReadSettingsCopy(text, !exists    ? SettingsFile::kMissing
                           : readable ? SettingsFile::kReadable
                                      : SettingsFile::kUnreadable);
  } catch (const Exception& failure) {
    return StepResult::Failed("lecture impossible : " + failure.Message());
  }

  std::vector<std::string> failures;
  std::vector<std::string> notes;
  const config::SettingsReadOutcome& outcome = settings_.Outcome;
  const std::string& readError = outcome.filePartError;
  if (!outcome.completed) {
    failures.push_back(
        "la lecture s'arrête sur « " + outcome.abandonMessage +
        " » et le cycle avec elle, sans toucher à aucune base. Corrigez Varnox.ini (clé Server de "
        "la section Database) ou rendez Varnox.ver lisible, puis relancez -check.");
  } else {
    settingsUsable_ = true;
  }
  if (!readError.empty()) {
    failures.push_back(
        (readable || !exists ? "la lecture échoue : " + FrenchReadError(readError)
                             : "le fichier " + path +
                                   " ne peut pas être lu (ce n'est pas un fichier, ou les droits "
                                   "manquent)") +
        ". Le service écrit alors au journal « Erreur lors de la lecture de la configuration - "
        "étape 1 : " +
        (readable || !exists ? RealPath(readError)
                             // The system's reason is the service's own, not the copy's.
                             : RealPath(readError.substr(0, readError.rfind(" : "))) + " : …") +
        " » et poursuit le cycle avec ce qui a été lu avant l'erreur (ci-dessous) ; les étapes "
        "suivantes l'essaient ainsi. Corrigez " +
        (readable || !exists ? "le fichier " + path + " (ou Varnox.ini / Varnox.ver)"
                             : "ses droits : il doit être lisible par le compte du service") +
        ", puis relancez -check.");
  }
  // The lines that tell the outcome are shown above, not again as remarks.
  for (const std::string& read : readerLines_) {
    if (!readError.empty() && EndsWith(read, readError)) continue;
    if (!outcome.completed && read == outcome.abandonMessage) continue;
    if (const std::optional<std::string> line = MaskedRemark(read)) notes.push_back(*line);
  }
  if (settings_.Interval == 0) {
    failures.push_back(
        "Interval=0 : aucun cycle ne s'exécutera. Donnez à la clé Interval de la section Main "
        "le nombre de secondes entre deux cycles (3600 par défaut), puis redémarrez le service.");
  }
  StepResult result;
  if (!failures.empty()) {
    std::string joined;
    for (const std::string& failure : failures) joined += (joined.empty() ? "" : " ") + failure;
    result = StepResult::Failed(joined);
  } else {
    result = StepResult::Passed(exists ? "fichier " + path + " lu"
                                       : "fichier " + path +
                                             " absent : le service le créera avec les valeurs "
                                             "par défaut ci-dessous");
  }
  bool fromVarnox = false;
  try {
    fromVarnox = config::IniFile(ChangeFileExt(copyExecutable_, ".ini"))
                     .ReadBool("Main", "UseVarnox_ini", false);
  } catch (const Exception&) {
    // Unreadable: reported above.
  }
  const std::string mySqlCode = settings_.MySQLDBPwd.empty() ? "(vide : téléchargé à chaque cycle)"
                                : settings_.MySQLDBPwd == config::kDefaultMySQLDBPwd
                                    ? "(valeur intégrée, masquée)"
                                    : "(masqué)";
  result.details = {
      "Main : DebugMode=" + std::string(settings_.DebugMode ? "1" : "0") +
          ", Interval=" + std::to_string(settings_.Interval) + " s" + ", UseVarnox_ini=" +
          (fromVarnox ? "1" : "0") + ", ZirvoServiceName=" + Shown(settings_.ZirvoServiceName),
      "Connexion SQL Server : ServerName=" + Shown(platform::WideToAnsi(settings_.SC.ServerName)) +
          ", DatabaseName=" + Shown(platform::WideToAnsi(settings_.SC.DatabaseName)) +
          ", UserName=" + Shown(platform::WideToAnsi(settings_.SC.UserName)) +
          ", SAPW=" + Secret(platform::WideToAnsi(settings_.SC.Password)) + ", SQLServerDriver=" +
          (settings_.SQLServerDriver.empty() ? "(automatique)" : settings_.SQLServerDriver) +
          ", Encrypt=" + (settings_.SqlServerEncrypt ? "1" : "0"),
      "DBConnexion : MySQLDBPwd=" + mySqlCode + ", MySQLDBPort=" + Shown(settings_.MySQLDBPort),
      "Endpoints : GatewayHost=" + Shown(settings_.GatewayHost) +
          ", AccessCodeHost=" + Shown(settings_.AccessCodeHost),
      "Proxy : HTTPServer=" + Shown(settings_.Proxy.HTTPServer) +
          ", HTTPPort=" + Shown(settings_.Proxy.HTTPPort) +
          ", HTTPUserName=" + Shown(settings_.Proxy.HTTPUserName) +
          ", HTTPPassword=" + Secret(settings_.Proxy.HTTPPassword) +
          ", HTTPBasicAuthentification=" + (settings_.Proxy.HTTPBasicAuthentification ? "1" : "0"),
      "DataBaseDir=" + Shown(RealPath(settings_.DataBaseDir)),
  };
  if (exists && platform::IsReadOnlyFile(file)) {
    notes.push_back(
        "le fichier est en lecture seule : le service ne pourra pas y réécrire les "
        "valeurs lues (il travaillera avec elles et le signalera au journal).");
  }
  for (const std::string& note : notes) result.details.push_back("Remarque : " + RealPath(note));
  const OutsideAccessReport access = FindOutsideAccess(
      options_.executablePath,
      settings_.ZirvoServiceName.empty() ? std::string(kServiceName) : settings_.ZirvoServiceName);
  if (!access.writable.empty()) {
    std::string open;
    for (const auto& entry : access.writable) open += (open.empty() ? "" : " ; ") + entry;
    // A read that already fails keeps its reason first.
    result.text =
        (result.outcome == StepResult::Outcome::kFailed ? result.text + " De plus, "
                                                        : std::string()) +
        "modifiable par d'autres comptes que l'administrateur et celui du service : " + open +
        ". Quiconque peut les modifier peut exécuter du code sous le compte du "
        "service : retirez-leur ces droits (Linux : chown root, chmod go-w) puis relancez -check.";
    result.outcome = StepResult::Outcome::kFailed;
  }
  if (!access.readable.empty()) {
    std::string open;
    for (const auto& entry : access.readable) open += (open.empty() ? "" : " ; ") + entry;
    result.details.push_back(
        "Attention : lisible par d'autres comptes : " + open +
        ". Ces fichiers contiennent des secrets brouillés, que le programme "
        "décode : réservez-les au compte du service et à l'administrateur (Linux : chmod 600).");
  }
  return result;
}

StepResult SelfCheck::Database() {
  if (!settingsUsable_) return StepResult::NotChecked("les paramètres n'ont pas pu être lus");
  db::Connection connection(settings_.SqlServerConnectionString);
  connection.SetSqlServerDriver(platform::AnsiToWide(settings_.SQLServerDriver));
  connection.SetEncryption(settings_.SqlServerEncrypt);
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
          "internet n'est pas active. » Vérifiez la carte réseau et la connexion au réseau.");
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
  accessCodeStored_ = stored;
  const bool builtIn = settings_.MySQLDBPwd == config::kDefaultMySQLDBPwd;
  const std::string url = config::AccessCodeUrl(settings_.AccessCodeHost);
  std::string downloadError;
  config::RemoteAccessCode access(config::RemoteAccessCodeContext{
      ChangeFileExt(copyExecutable_, ".ini"), http_, Log(), [](const std::string&) {},
      [&downloadError](const Exception& error) { downloadError = error.Message(); }});
  bool ready = false;
  try {
    const config::AccessCode code = access.CheckProxy(url, settings_.MySQLDBPwd, settings_.Proxy);
    mySqlPassword_ = code.password;
    ready = !code.password.empty();
  } catch (const Exception& error) {
    return StepResult::Failed(Sentence(error.Message()) +
                              " Corrigez la section Proxy (-scramble).");
  }
  const std::string route = Route();
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
    const std::string& message = error.Message();
    // The server's own words for a wrong password: the data source works, the code not.
    if (message.find("Access denied") != std::string::npos &&
        message.find("using password: YES") != std::string::npos) {
      return StepResult::Failed(
          "le serveur MySQL refuse le code d'accès : " + Sentence(message) +
          " Le code est faux : " +
          (!accessCodeStored_
               ? "celui que fournit l'hôte du code d'accès (clé AccessCodeHost de la section "
                 "Endpoints) ne convient pas ; vérifiez cet hôte, ou enregistrez le bon code "
                 "dans la clé MySQLDBPwd (section DBConnexion) avec -scramble."
               : "corrigez la clé MySQLDBPwd (section DBConnexion) avec -scramble, ou videz-la "
                 "pour télécharger le code depuis l'hôte du code d'accès (clé AccessCodeHost)."));
    }
    return StepResult::Failed(
        "ouverture impossible : " + Sentence(message) +
        " Vérifiez que la source de données ODBC système « QuenzarMySQLDB » existe, que son "
        "pilote MySQL est installé et que le serveur MySQL est joignable.");
  }
  return StepResult::Passed("ouverture réussie");
}

// The gateway's refusals of an account (401, 403) the log holds since the service last
// started, as "date : status line", oldest first. Only the end of a long log is read.
std::vector<std::string> RefusalsSinceStart(const std::string& logPath) {
  constexpr std::streamoff kTail = 8 << 20;
  std::ifstream in(logPath, std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(size > kTail ? size - kTail : 0);
  std::ostringstream content;
  content << in.rdbuf();
  const std::string text = content.str();
  static const std::string kStart = " : TZirvoService.ServiceStart...";
  static const std::string kRefusal = " : Erreur : HTTP/1.1 40";
  std::size_t from = text.rfind(kStart);
  from = from == std::string::npos ? 0 : from;
  std::vector<std::string> refusals;
  for (std::size_t at = text.find(kRefusal, from); at != std::string::npos;
       at = text.find(kRefusal, at + 1)) {
    const std::size_t newline = text.rfind('\n', at);
    const std::size_t lineStart = newline == std::string::npos ? 0 : newline + 1;
    const std::size_t lineEnd = text.find_first_of("\r\n", at);
    const std::size_t statusStart = at + 12;  // after " : Erreur : "
    const std::string status = text.substr(
        statusStart, (lineEnd == std::string::npos ? text.size() : lineEnd) - statusStart);
    if (status.rfind("HTTP/1.1 401", 0) != 0 && status.rfind("HTTP/1.1 403", 0) != 0) continue;
    refusals.push_back(text.substr(lineStart, at - lineStart) + " : " + status);
  }
  return refusals;
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
  // the request carries neither account nor message id. The client is the one the
  // access code step set up, with the proxy a cycle would use for the gateway.
  const std::string url = "https://" + host + "/";
  const std::string route = Route();
  // The certificate is held to what a cycle holds it to; the verdict is shown whatever
  // it is.
  const auto verification = static_cast<net::TlsVerification>(settings_.GatewayTlsVerification);
  net::TlsPeerVerdict verdict;
  http_.SetTlsVerification(
      verification,
      [&verdict](const std::string&, const net::TlsPeerVerdict& found) { verdict = found; });
  std::string answer;
  try {
    http_.HttpGet(url);
  } catch (const HttpProtocolError& status) {
    answer = " (" + status.StatusLine() + ")";
  } catch (const Exception& error) {
    return StepResult::Failed(
        "pas de réponse de " + url + " (" + route + ") : " + Sentence(error.Message()) +
        " Vérifiez la clé GatewayHost (section Endpoints), l'accès à internet, le pare-feu, la "
        "présence de la bibliothèque OpenSSL et, en mode strict (GatewayTlsVerification=2), "
        "que le certificat de la passerelle est valable pour ce nom et émis par une autorité "
        "de confiance de cet ordinateur.");
  }
  const std::string reached = "connexion TLS à " + host + " (" + route + ") et réponse HTTP reçue" +
                              answer +
                              " : la route est bonne, mais cela ne prouve rien des comptes, que "
                              "seule une demande de statuts éprouve";
  const std::vector<std::string> refusals =
      RefusalsSinceStart(ChangeFileExt(options_.executablePath, ".log"));
  StepResult result =
      refusals.empty()
          ? StepResult::Passed(reached)
          : StepResult::Failed(
                reached + ". Depuis son dernier démarrage, le service s'est vu refuser un compte " +
                std::to_string(refusals.size()) + " fois (le dernier le " + refusals.back() +
                ") : les messages de ce compte ne sont plus mis à jour. Corrigez le compte de la "
                "passerelle (identifiant et mot de passe SMS) dans l'application du cabinet, puis "
                "attendez le cycle suivant.");
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
  const std::optional<std::string> account =
      options_.serviceAccount ? options_.serviceAccount(kServiceName) : std::nullopt;
  std::vector<std::string> failures;
  std::vector<std::string> notes;
  // A stopped service runs no cycle; a paused one goes on running them.
  if (*state == 1 || *state == 3) {
    failures.push_back(
        "Aucun cycle ne s'exécute tant qu'il est arrêté : démarrez-le (Windows : console des "
        "services ou « net start " +
        std::string(kServiceName) + " » ; Linux : « systemctl start " + kServiceName + " »).");
  }
  // Without the right to write there, the service writes no log line at all, and its
  // settings file is never brought up to date.
  const std::string folder = ExtractFilePath(options_.executablePath);
  const struct {
    std::string what;
    std::string path;
    std::string consequence;
  } places[] = {{"le dossier", folder,
                 "le service ne pourrait ni y créer son journal ni y réécrire ses paramètres"},
                {"le fichier de paramètres", ChangeFileExt(options_.executablePath, ".ini"),
                 "le service ne pourrait pas y réécrire les valeurs lues"},
                {"le journal", ChangeFileExt(options_.executablePath, ".log"),
                 "le service n'écrirait aucune ligne au journal"}};
  for (const auto& place : places) {
    std::error_code error;
    if (!account || !options_.writeAccess || !fs::exists(FileSystemPath(place.path), error)) {
      continue;
    }
    switch (options_.writeAccess(*account, place.path)) {
      case platform::WriteAccess::kAllowed:
        break;
      case platform::WriteAccess::kDenied:
        failures.push_back("Le compte du service « " + *account + " » ne peut pas écrire dans " +
                           place.what + " " + platform::PathToText(place.path) + " : " +
                           place.consequence + ". Donnez à ce compte le droit de modifier " +
                           place.what + ".");
        break;
      case platform::WriteAccess::kUnknown:
        notes.push_back("Remarque : les droits du compte « " + *account + " » sur " + place.what +
                        " " + platform::PathToText(place.path) + " n'ont pas pu être vérifiés.");
        break;
    }
  }
  const std::string facts = "installé" +
                            (account ? " sous le compte « " + *account + " »" : std::string()) +
                            ", état : « " + db::ServiceStateText(state) + " »";
  StepResult result;
  if (failures.empty()) {
    result = StepResult::Passed(facts);
  } else {
    std::string joined;
    for (const std::string& failure : failures) joined += " " + failure;
    result = StepResult::Failed(facts + "." + joined);
  }
  result.details = std::move(notes);
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
  const bool one = failedSteps_.size() == 1;
  options_.print("Bilan : " + std::to_string(failedSteps_.size()) + (one ? " étape" : " étapes") +
                 " sur " + std::to_string(kStepCount) +
                 (one ? " en échec ou non vérifiée : " : " en échec ou non vérifiées : ") + names +
                 ".");
  return 1;
}

}  // namespace

int RunSelfCheck(const SelfCheckOptions& options) {
  if (options.onInterrupt) options.onInterrupt(RemovePrivateFolderNow);
  return SelfCheck(options).Run();
}

}  // namespace zirvo::service

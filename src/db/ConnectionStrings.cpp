#include "db/ConnectionStrings.h"

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "db/Connection.h"
#include "platform/CodePage.h"

namespace zirvo::db {

namespace {

constexpr std::u16string_view kEmptyOptions =
    u"Initial File Name=\"\";Server SPN=\"\";Authentication=\"\";Access Token=\"\";";

std::u16string Unquote(std::u16string_view value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    const char16_t quote = value.front();
    std::u16string result;
    const std::u16string_view inner = value.substr(1, value.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
      result += inner[i];
      if (inner[i] == quote && i + 1 < inner.size() && inner[i + 1] == quote) ++i;
    }
    return result;
  }
  return std::u16string(value);
}

std::string InvalidString(const std::string& detail) {
  return "Chaîne de connexion invalide : " + detail;
}

std::string Where(const std::u16string& previousKey) {
  return previousKey.empty() ? std::string("au début de la chaîne")
                             : "après la clé « " + platform::WideToAnsi(previousKey) + " »";
}

// ODBC reads a value up to the next semicolon unless it is enclosed in braces; inside
// braces a closing brace is written twice.
std::u16string OdbcValue(std::u16string_view value) {
  bool needsBraces = !value.empty() && (value.front() == u' ' || value.back() == u' ');
  for (char16_t c : value) {
    if (c == u';' || c == u'{' || c == u'}' || c == u'=') needsBraces = true;
  }
  if (!needsBraces) return std::u16string(value);
  std::u16string result = u"{";
  for (char16_t c : value) {
    result += c;
    if (c == u'}') result += u'}';
  }
  return result + u"}";
}

void Append(std::u16string& odbc, std::u16string_view key, std::u16string_view value) {
  odbc.append(key).append(u"=").append(OdbcValue(value)).append(u";");
}

class EntryMap {
 public:
  explicit EntryMap(std::vector<ConnectionStringEntry> entries) : entries_(std::move(entries)) {}
  const std::u16string* Find(std::u16string_view key) const {
    for (const auto& entry : entries_) {
      if (SameTextAscii(entry.key, key)) return &entry.value;
    }
    return nullptr;
  }
  std::u16string Value(std::u16string_view key) const {
    const std::u16string* value = Find(key);
    return value ? *value : std::u16string();
  }
  const std::vector<ConnectionStringEntry>& Entries() const { return entries_; }

 private:
  std::vector<ConnectionStringEntry> entries_;
};

bool IsOneOf(std::u16string_view key, std::initializer_list<std::u16string_view> names) {
  for (auto name : names) {
    if (SameTextAscii(key, name)) return true;
  }
  return false;
}

void CheckKeys(const EntryMap& entries, std::initializer_list<std::u16string_view> allowed) {
  std::u16string previous;
  for (const auto& entry : entries.Entries()) {
    if (!IsOneOf(entry.key, allowed)) {
      throw Exception(InvalidString("clé inconnue " + Where(previous) +
                                    " (une valeur contient-elle un point-virgule ?)"));
    }
    previous = entry.key;
  }
}

std::u16string SqlServerToOdbc(const EntryMap& entries, std::u16string_view driver, bool encrypt) {
  CheckKeys(entries, {u"Provider", u"Persist Security Info", u"Initial File Name", u"Server SPN",
                      u"Authentication", u"Access Token", u"Data Source", u"Initial Catalog",
                      u"User ID", u"Password"});
  for (auto option : {u"Initial File Name", u"Server SPN", u"Authentication", u"Access Token"}) {
    if (!entries.Value(option).empty()) {
      throw Exception("Option de connexion « " + platform::WideToAnsi(option) +
                      " » non prise en charge par la couche ODBC");
    }
  }
  const std::u16string* dataSource = entries.Find(u"Data Source");
  if (dataSource == nullptr) throw Exception(InvalidString("la clé « Data Source » manque"));

  std::u16string odbc;
  Append(odbc, u"DRIVER", driver);
  if (SameTextAscii(driver, u"SQLite3")) {
    if (dataSource->empty()) {
      throw Exception(InvalidString("le fichier de la base SQLite (Data Source) manque"));
    }
    Append(odbc, u"Database", *dataSource);
    // A mistyped path must fail, not leave a new empty database behind.
    Append(odbc, u"NoCreat", u"1");
    // Another process (the desktop application, an operator's tool) may hold a write
    // lock for a moment: wait for it rather than fail at once.
    Append(odbc, u"Timeout", u"5000");
    return odbc;
  }
  std::u16string server = *dataSource;
  std::u16string port;
  const bool freeTds = driver.find(u"FreeTDS") != std::u16string_view::npos ||
                       driver.find(u"freetds") != std::u16string_view::npos;
  const bool microsoft = driver.substr(0, 12) == u"ODBC Driver ";
  if (encrypt && !freeTds && !microsoft) {
    throw Exception(
        "Le chiffrement demandé (clé Encrypt de la section ODBC) n'est possible "
        "qu'avec les pilotes « ODBC Driver 17 for SQL Server », « ODBC Driver 18 "
        "for SQL Server » ou FreeTDS, pas avec « " +
        EscapeControlBytes(platform::WideToAnsi(driver)) + " »");
  }
  // SQL Server's "host,port" is a port of its own for the drivers that take it apart.
  if (freeTds || IsMariaDbDriver(driver)) {
    const auto comma = server.rfind(u',');
    if (comma != std::u16string::npos) {
      port = std::u16string(TrimBlanks(std::u16string_view(server).substr(comma + 1)));
      server = std::u16string(TrimBlanks(std::u16string_view(server).substr(0, comma)));
    }
  }
  Append(odbc, u"SERVER", server);
  if (!port.empty()) Append(odbc, u"PORT", port);
  if (const auto* catalog = entries.Find(u"Initial Catalog"); catalog && !catalog->empty()) {
    Append(odbc, u"DATABASE", *catalog);
  }
  if (const auto* user = entries.Find(u"User ID")) Append(odbc, u"UID", *user);
  if (const auto* password = entries.Find(u"Password")) Append(odbc, u"PWD", *password);
  // The practice's server usually has a certificate of its own making, which no store
  // trusts: encryption keeps the messages and accounts off the network in clear; an
  // attacker able to stand in for the server is not stopped by it.
  if (microsoft && encrypt) {
    Append(odbc, u"Encrypt", u"yes");
    Append(odbc, u"TrustServerCertificate", u"yes");
  } else if (microsoft) {
    Append(odbc, u"Encrypt", u"no");
  } else if (freeTds && encrypt) {
    Append(odbc, u"Encryption", u"require");
  }
  return odbc;
}

bool ContainsTextAscii(std::u16string_view text, std::u16string_view part) {
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (SameTextAscii(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

bool IsSqliteDriver(std::u16string_view driver) { return ContainsTextAscii(driver, u"sqlite"); }

std::u16string DataSourceToOdbc(const EntryMap& entries, std::u16string_view dataSourceDriver) {
  CheckKeys(entries, {u"Provider", u"Persist Security Info", u"Data Source", u"Initial Catalog",
                      u"User ID", u"Password"});
  const std::u16string dataSource = entries.Value(u"Data Source");
  if (dataSource.empty()) throw Exception(InvalidString("la source de données ODBC manque"));
  std::u16string odbc;
  Append(odbc, u"DSN", dataSource);
  // An SQLite source has no catalogs: its data source names the database file, and the
  // driver would take a catalog for a file name of its own, relative to the working
  // directory (where it would create it).
  if (const auto* catalog = entries.Find(u"Initial Catalog");
      catalog && !catalog->empty() && !IsSqliteDriver(dataSourceDriver)) {
    Append(odbc, u"DATABASE", *catalog);
  }
  if (const auto* user = entries.Find(u"User ID")) Append(odbc, u"UID", *user);
  if (const auto* password = entries.Find(u"Password")) Append(odbc, u"PWD", *password);
  return odbc;
}

}  // namespace

const std::u16string kSQLServerCreationConnectionString =
    u"Provider=MSOLEDBSQL.1;Persist Security Info=False;User ID=sa;Initial Catalog=VarnoxDemo;"
    u"Data Source=localhost;" +
    std::u16string(kEmptyOptions);

const std::u16string kMySQLCreationConnectionString = MySQLConnectionString(u"demo");

bool SameTextAscii(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::u16string BuildSQLServerConnectionString(const TSQLServerSettings& sc, const Log& log) {
  std::u16string result = u"Provider=MSOLEDBSQL.1;Persist Security Info=True;";
  result += kEmptyOptions;
  result += u"Data Source=" + sc.ServerName + u";";
  if (!sc.DatabaseName.empty()) result += u"Initial Catalog=" + sc.DatabaseName + u";";
  if (!sc.Password.empty()) {
    result +=
        sc.UserName.empty() ? std::u16string(u"User ID=sa;") : u"User ID=" + sc.UserName + u";";
    result += u"Password=" + sc.Password + u";";
  }
  if (log.Debug())
    log.Line("ConnStr=[" + platform::WideToAnsi(MaskPassword(result, 0).shown) + "]");
  return result;
}

std::u16string MySQLConnectionString(std::u16string_view password) {
  return u"Provider=MSDASQL.1;Password=" + std::u16string(password) +
         u";Persist Security Info=True;User ID=quenzar;Data Source=QuenzarMySQLDB;"
         u"Initial Catalog=Quenzar";
}

void InitMySQLDB(Connection& mySqlConnection, std::u16string_view password, const Log& log) {
  mySqlConnection.Close();
  if (mySqlConnection.Connected()) mySqlConnection.SetConnected(false);
  mySqlConnection.SetConnectionString(MySQLConnectionString(password));
  log.DebugLine("InitMySQLDB terminé.");
}

std::vector<ConnectionStringEntry> ParseConnectionString(std::u16string_view text) {
  std::vector<ConnectionStringEntry> entries;
  std::u16string previous;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find(u';', start);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view segment = text.substr(start, end - start);
    start = end + 1;
    if (TrimBlanks(segment).empty()) continue;
    const auto equals = segment.find(u'=');
    if (equals == std::u16string_view::npos) {
      throw Exception(InvalidString("segment sans signe égal " + Where(previous) +
                                    " (une valeur contient-elle un point-virgule ?)"));
    }
    std::u16string key(TrimBlanks(segment.substr(0, equals)));
    for (const auto& entry : entries) {
      if (SameTextAscii(entry.key, key)) {
        throw Exception(InvalidString("clé répétée " + Where(previous) +
                                      " (une valeur contient-elle un point-virgule ?)"));
      }
    }
    entries.push_back({key, Unquote(segment.substr(equals + 1))});
    previous = std::move(key);
  }
  return entries;
}

std::u16string TranslateToOdbc(std::u16string_view oleDbString, std::u16string_view sqlServerDriver,
                               std::u16string_view dataSourceDriver, bool encrypt) {
  const EntryMap entries(ParseConnectionString(oleDbString));
  const std::u16string provider = entries.Value(u"Provider");
  if (SameTextAscii(provider, u"MSOLEDBSQL.1")) {
    return SqlServerToOdbc(entries, sqlServerDriver, encrypt);
  }
  if (SameTextAscii(provider, u"MSDASQL.1")) return DataSourceToOdbc(entries, dataSourceDriver);
  throw Exception("Fournisseur de base de données « " + platform::WideToAnsi(provider) +
                  " » non pris en charge");
}

std::u16string ResolveSqlServerDriver(std::u16string_view configured,
                                      const std::vector<std::u16string>& installed,
                                      const std::vector<std::u16string>& candidates) {
  if (!configured.empty()) return std::u16string(configured);
  for (const auto& candidate : candidates) {
    for (const auto& name : installed) {
      if (SameTextAscii(candidate, name)) return candidate;
    }
  }
  return candidates.back();
}

void CheckConfiguredSqlServerDriver(std::u16string_view configured,
                                    const std::vector<std::u16string>& installed) {
  const std::string shown = EscapeControlBytes(platform::WideToAnsi(configured));
  const std::string advice =
      " : indiquez le nom d'un pilote ODBC installé, tel que le gestionnaire ODBC le liste "
      "(odbcinst -q -d sous Linux, administrateur ODBC sous Windows), ou videz la clé pour le "
      "choix automatique.";
  if (configured.find_first_of(u"/\\") != std::u16string_view::npos) {
    throw Exception("Pilote SQL Server refusé (clé SQLServerDriver de la section ODBC) : « " +
                    shown + " » est un chemin de fichier, pas un nom de pilote" + advice);
  }
  if (SameTextAscii(configured, u"SQLite3")) return;
  for (const auto& name : installed) {
    if (SameTextAscii(name, configured)) return;
  }
  throw Exception("Pilote SQL Server refusé (clé SQLServerDriver de la section ODBC) : « " + shown +
                  " » n'est pas un pilote installé" + advice);
}

bool IsMariaDbDriver(std::u16string_view driver) {
  // By name ("MariaDB Unicode", "MariaDB ODBC 3.1 Driver") or by library (libmaodbc.so),
  // as a data source may name either.
  return ContainsTextAscii(driver, u"mariadb") || ContainsTextAscii(driver, u"maodbc");
}

std::u16string BoundingKeys(std::u16string_view driver, int loginSeconds, int statementSeconds,
                            bool practiceBase) {
  if (ContainsTextAscii(driver, u"freetds")) {
    // Its automatic version tries TDS 7.4 under the login time-out, then the Sybase
    // protocol 5.0, whose login waits without one. Every SQL Server the OLE DB provider
    // reaches (2012 and later) speaks 7.4.
    return u"TDS_Version=7.4;";
  }
  if (!IsMariaDbDriver(driver)) return std::u16string();
  // The practice base may hold a row for another program: the server's own lock wait
  // (InnoDB's default 50 s) ends such a wait, as it always has, before the read bound.
  const int readSeconds = practiceBase ? 2 * statementSeconds : statementSeconds;
  const auto number = [](int seconds) { return platform::AnsiToWide(std::to_string(seconds)); };
  std::u16string keys;
  Append(keys, u"CONN_TIMEOUT", number(loginSeconds));
  Append(keys, u"READ_TIMEOUT", number(readSeconds));
  Append(keys, u"WRITE_TIMEOUT", number(statementSeconds));
  return keys;
}

}  // namespace zirvo::db

#include "db/Connection.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "db/ConnectionStrings.h"
#include "db/OdbcCore.h"
#include "platform/CodePage.h"
#include "platform/OdbcDrivers.h"

namespace zirvo::db {

std::string FormatOdbcDiagnostics(const std::vector<OdbcDiagnostic>& diagnostics,
                                  const std::string& function) {
  if (diagnostics.empty()) return "Échec de l'appel ODBC " + function + " sans diagnostic";
  std::string message;
  for (std::size_t i = 0; i < diagnostics.size(); ++i) {
    const auto& record = diagnostics[i];
    std::string text = record.text + " (SQLSTATE " + record.sqlState + ", code natif " +
                       std::to_string(record.nativeCode) + ")";
    // Some drivers (FreeTDS) post the same record twice; once is enough for the log.
    if (message.find(text) != std::string::npos) continue;
    if (!message.empty()) message += " | ";
    message += text;
  }
  return message;
}

std::vector<OdbcDiagnostic> CollectDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::vector<OdbcDiagnostic> records;
  if (handle == nullptr) return records;
  for (SQLSMALLINT number = 1;; ++number) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::vector<SQLWCHAR> text(1024);
    SQLSMALLINT length = 0;
    SQLRETURN result = SQLGetDiagRecW(handleType, handle, number, state, &native, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length);
    if (result == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
      text.resize(static_cast<std::size_t>(length) + 1);
      result = SQLGetDiagRecW(handleType, handle, number, state, &native, text.data(),
                              static_cast<SQLSMALLINT>(text.size()), &length);
    }
    if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO) break;
    const auto shown = std::min<std::size_t>(
        static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), text.size() - 1);
    std::u16string message = FromWide(text.data(), shown);
    while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r')) {
      message.pop_back();
    }
    // A driver's text is outside text: its control bytes would break or forge log lines.
    records.push_back({EscapeControlBytes(platform::WideToAnsi(FromWide(state, 5))),
                       static_cast<long>(native),
                       EscapeControlBytes(platform::WideToAnsi(message))});
  }
  return records;
}

void CheckOdbc(SQLRETURN result, SQLSMALLINT handleType, SQLHANDLE handle, const char* function) {
  if (result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO) return;
  auto records = CollectDiagnostics(handleType, handle);
  std::string message = FormatOdbcDiagnostics(records, function);
  throw EOdbcError(std::move(message), std::move(records));
}

EnvHandle NewEnvironment() {
  SQLHENV raw = SQL_NULL_HENV;
  const SQLRETURN result = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw);
  if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO) {
    throw EOdbcError("Impossible d'initialiser ODBC (gestionnaire de pilotes absent ?)", {});
  }
  EnvHandle environment(raw);
  CheckOdbc(
      SQLSetEnvAttr(raw, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
      SQL_HANDLE_ENV, raw, "SQLSetEnvAttr");
  return environment;
}

// Every (name, description) pair of one of the driver manager's lists, read with
// SQLDriversW or SQLDataSourcesW (the same calling convention), in its order.
template <typename ListCall>
std::vector<std::pair<std::u16string, std::u16string>> DriverManagerList(SQLHENV environment,
                                                                         ListCall list) {
  std::vector<std::pair<std::u16string, std::u16string>> entries;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    SQLWCHAR name[512];
    SQLWCHAR description[2048];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT descriptionLength = 0;
    const SQLRETURN result =
        list(environment, direction, name, 512, &nameLength, description, 2048, &descriptionLength);
    if (result != SQL_SUCCESS && result != SQL_SUCCESS_WITH_INFO) return entries;
    entries.emplace_back(
        FromWide(name, std::min<std::size_t>(static_cast<std::size_t>(nameLength), 511)),
        FromWide(description,
                 std::min<std::size_t>(static_cast<std::size_t>(descriptionLength), 2047)));
    direction = SQL_FETCH_NEXT;
  }
}

std::vector<std::u16string> InstalledDrivers(SQLHENV environment) {
  std::vector<std::u16string> names;
  for (auto& entry : DriverManagerList(environment, SQLDriversW)) {
    names.push_back(std::move(entry.first));
  }
  return names;
}

// The data source an "MSDASQL.1" string names, "" for any other string. A broken string
// gives "" too: its translation reports it.
std::u16string NamedDataSource(std::u16string_view connectionString) {
  std::u16string provider;
  std::u16string source;
  try {
    for (const auto& entry : ParseConnectionString(connectionString)) {
      if (SameTextAscii(entry.key, u"Provider")) provider = entry.value;
      if (SameTextAscii(entry.key, u"Data Source")) source = entry.value;
    }
  } catch (const Exception&) {
    return std::u16string();
  }
  return SameTextAscii(provider, u"MSDASQL.1") ? source : std::u16string();
}

// The driver of a data source as the driver manager lists it, "" when it lists none.
std::u16string DataSourceDriver(SQLHENV environment, std::u16string_view dataSource) {
  for (const auto& [name, driver] : DriverManagerList(environment, SQLDataSourcesW)) {
    if (SameTextAscii(name, dataSource)) return driver;
  }
  return std::u16string();
}

namespace {

// The core's mutex is held by the caller.
std::u16string ChosenDriver(ConnectionCore& core) {
  if (!core.environment) core.environment = NewEnvironment();
  if (!core.sqlServerDriver.empty()) {
    // The settings file names the driver; the driver manager would load a path given
    // there as code of its own, with the service's rights.
    CheckConfiguredSqlServerDriver(core.sqlServerDriver, InstalledDrivers(core.environment.get()));
    return core.sqlServerDriver;
  }
  const auto candidates = platform::SqlServerDriverCandidates();
  return ResolveSqlServerDriver(u"",
                                candidates.size() > 1 ? InstalledDrivers(core.environment.get())
                                                      : std::vector<std::u16string>{},
                                candidates);
}

}  // namespace

Connection::Connection() : core_(std::make_unique<ConnectionCore>()) {}

Connection::Connection(std::u16string connectionString) : Connection() {
  core_->connectionString = std::move(connectionString);
}

Connection::~Connection() { Close(); }

std::u16string Connection::ConnectionString() const {
  std::lock_guard lock(core_->mutex);
  return core_->connectionString;
}

void Connection::SetConnectionString(std::u16string connectionString) {
  std::lock_guard lock(core_->mutex);
  if (core_->connected) {
    throw Exception("Impossible de changer la chaîne de connexion d'une connexion ouverte");
  }
  core_->connectionString = std::move(connectionString);
}

void Connection::SetSqlServerDriver(std::u16string driverName) {
  std::lock_guard lock(core_->mutex);
  core_->sqlServerDriver = std::move(driverName);
}

void Connection::SetEncryption(bool encrypt) {
  std::lock_guard lock(core_->mutex);
  core_->encrypt = encrypt;
}

std::u16string Connection::SqlServerDriver() const {
  std::lock_guard lock(core_->mutex);
  return core_->sqlServerDriver;
}

void Connection::SetLoginTimeout(int seconds) {
  std::lock_guard lock(core_->mutex);
  core_->loginTimeout = seconds < 0 ? 0 : seconds;
}

void Connection::SetQueryTimeout(int seconds) {
  std::lock_guard lock(core_->mutex);
  core_->queryTimeout = seconds < 0 ? 0 : seconds;
}

std::u16string Connection::ChosenSqlServerDriver() const {
  std::lock_guard lock(core_->mutex);
  return ChosenDriver(*core_);
}

bool Connection::Connected() const { return core_->connected.load(); }

bool Connection::IsSqlServer() const {
  std::lock_guard lock(core_->mutex);
  return core_->sqlServer;
}

void Connection::Open() {
  ConnectionCore& core = *core_;
  std::lock_guard lock(core.mutex);
  if (core.connected) return;
  if (!core.environment) core.environment = NewEnvironment();

  const std::u16string dataSource = NamedDataSource(core.connectionString);
  const std::u16string sqlServerDriver = ChosenDriver(core);
  const std::u16string sourceDriver =
      dataSource.empty() ? std::u16string() : DataSourceDriver(core.environment.get(), dataSource);
  std::u16string odbcString =
      TranslateToOdbc(core.connectionString, sqlServerDriver, sourceDriver, core.encrypt) +
      BoundingKeys(dataSource.empty() ? sqlServerDriver : sourceDriver, core.loginTimeout,
                   core.queryTimeout, dataSource.empty());

  SQLHDBC raw = SQL_NULL_HDBC;
  CheckOdbc(SQLAllocHandle(SQL_HANDLE_DBC, core.environment.get(), &raw), SQL_HANDLE_ENV,
            core.environment.get(), "SQLAllocHandle");
  // Freed without SQLDisconnect while the connect has not succeeded.
  std::unique_ptr<std::remove_pointer_t<SQLHDBC>, void (*)(SQLHDBC)> pending(
      raw, [](SQLHDBC handle) { SQLFreeHandle(SQL_HANDLE_DBC, handle); });
  // An unreachable server must not hold the cycle for minutes. The connection-wide
  // time-out is left alone: it would bound every later request too, long statements
  // included, which the statement time-out governs instead.
  // A driver that refuses the bound fails the open here rather than risk a login that
  // never ends.
  CheckOdbc(
      SQLSetConnectAttrW(raw, SQL_ATTR_LOGIN_TIMEOUT,
                         reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(core.loginTimeout)), 0),
      SQL_HANDLE_DBC, raw, "SQLSetConnectAttrW");
  SQLWCHAR completed[1024];
  SQLSMALLINT completedLength = 0;
  const SQLRETURN result = SQLDriverConnectW(raw, nullptr, Wide(odbcString), SQL_NTS, completed,
                                             1024, &completedLength, SQL_DRIVER_NOPROMPT);
  // The translated string may hold the password: wipe it before anything can fail.
  std::fill(odbcString.begin(), odbcString.end(), u'\0');
  std::fill(std::begin(completed), std::end(completed), SQLWCHAR{0});
  CheckOdbc(result, SQL_HANDLE_DBC, raw, "SQLDriverConnectW");

  DbcHandle opened(pending.release());
  SQLWCHAR dbmsName[256] = {};
  SQLSMALLINT dbmsLength = 0;
  core.sqlServer = false;
  if (SQL_SUCCEEDED(
          SQLGetInfoW(opened.get(), SQL_DBMS_NAME, dbmsName, sizeof dbmsName, &dbmsLength))) {
    const std::u16string name =
        FromWide(dbmsName, std::min<std::size_t>(static_cast<std::size_t>(dbmsLength) / 2, 255));
    core.sqlServer = name.find(u"SQL Server") != std::u16string::npos;
  }
  core.connection = std::move(opened);
  ++core.generation;
  core.connected = true;
}

void Connection::Close() noexcept {
  std::lock_guard lock(core_->mutex);
  core_->connection.reset();
  ++core_->generation;
  core_->connected = false;
}

}  // namespace zirvo::db

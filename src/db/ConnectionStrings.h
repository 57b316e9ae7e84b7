// The two connection strings of the service, in the OLE DB form the desktop installation
// knows, and their translation into ODBC connection strings. Pure text functions: they
// touch no database and may run on any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Log.h"

namespace zirvo::db {

class Connection;

// The SQL Server login the settings give (`SC`): wide strings, the password unscrambled.
struct TSQLServerSettings {
  std::u16string ServerName;
  std::u16string DatabaseName;
  std::u16string UserName;
  std::u16string Password;
};

// What ADO_MSSQLConnection holds before the first settings read: a demonstration catalog
// on the local machine.
extern const std::u16string kSQLServerCreationConnectionString;
// What ADO_MySQLConnection holds before InitMySQLDB first runs; never used to connect.
extern const std::u16string kMySQLCreationConnectionString;

// The SQL Server connection string for a login, values inserted verbatim. In debug mode
// it logs "ConnStr=[" + the string up to and including the first "Password=" + "]"
// (the whole string when there is no password), so the password never reaches the log.
std::u16string BuildSQLServerConnectionString(const TSQLServerSettings& sc, const Log& log);

// The connection string of the maker's MySQL database through the data source
// "QuenzarMySQLDB" for an access code, inserted verbatim.
std::u16string MySQLConnectionString(std::u16string_view password);

// InitMySQLDB: closes the MySQL connection (ADO_MySQLConnection) and gives it the
// connection string for `password`; logs "InitMySQLDB terminé." in debug mode.
// The string itself is never logged. Same thread contract as Connection.
void InitMySQLDB(Connection& mySqlConnection, std::u16string_view password, const Log& log);

// One key and value of an OLE DB connection string.
struct ConnectionStringEntry {
  std::u16string key;
  std::u16string value;
};

// Splits an OLE DB connection string at its semicolons. Keys lose surrounding blanks;
// a value wholly enclosed in double (or single) quotes loses them, a doubled quote inside
// standing for one. Empty segments are skipped. A segment without "=" or a key given
// twice raises Exception with a French message; since the strings are built verbatim,
// both usually mean that a value holds a semicolon. Messages never quote text that
// follows a key, so a password cut by a semicolon does not reach the log.
std::vector<ConnectionStringEntry> ParseConnectionString(std::u16string_view text);

// The ODBC connection string for an OLE DB one. "Provider=MSOLEDBSQL.1" becomes the SQL
// Server driver `sqlServerDriver` (already resolved, never empty): "SQLite3" selects the
// embedded default where Data Source is the database file; "FreeTDS" gets a "host,port"
// Data Source split into its server and port; the Microsoft drivers get "Encrypt=no",
// the default of the OLE DB provider they replace. With `encrypt` the session is
// encrypted without verifying the server's certificate (a practice's server has a
// self-signed one): "Encrypt=yes" and "TrustServerCertificate=yes" for the Microsoft
// drivers, "Encryption=require" for FreeTDS; SQLite3 has no session to encrypt, and any
// other driver raises Exception rather than connect in clear. "Provider=MSDASQL.1" becomes
// "DSN=" + Data Source, with Initial Catalog as "DATABASE" unless `dataSourceDriver` (the
// driver that data source uses, "" when unknown) is an SQLite driver, whose data source
// names the database file itself. Values that need it are enclosed in braces, so no
// value can add a key of its own. An unknown provider, an unknown key or a missing Data
// Source raise Exception with a French message.
std::u16string TranslateToOdbc(std::u16string_view oleDbString, std::u16string_view sqlServerDriver,
                               std::u16string_view dataSourceDriver = {}, bool encrypt = false);

// The SQL Server driver to use: `configured` when it is not empty; otherwise the first of
// `candidates` (best first) that `installed` lists, without regard to ASCII case; the
// last candidate when none is installed. `candidates` must not be empty.
std::u16string ResolveSqlServerDriver(std::u16string_view configured,
                                      const std::vector<std::u16string>& installed,
                                      const std::vector<std::u16string>& candidates);

// Raises Exception with a French message naming the SQLServerDriver key unless
// `configured` is a driver name: the embedded default "SQLite3" or a name `installed` (the
// driver manager's list) holds, without regard to ASCII case. A path, or any name with "/"
// or "\\", is always refused: a driver manager loads such a value as a library of its own.
void CheckConfiguredSqlServerDriver(std::u16string_view configured,
                                    const std::vector<std::u16string>& installed);
// True when a driver name (or library path) is MariaDB Connector/ODBC's.
bool IsMariaDbDriver(std::u16string_view driver);

// The ODBC keys that a driver needs for its waits on a silent server to end within the
// login (`loginSeconds`) and statement (`statementSeconds`) bounds; "" for a driver whose
// own time-outs do. MariaDB Connector/ODBC: its login time-out covers the TCP connect
// only and its statement time-out is left to the server, so CONN_TIMEOUT is the login
// bound (it covers the handshake), WRITE_TIMEOUT the statement bound, READ_TIMEOUT the
// statement bound too, or twice it for the practice base (`practiceBase`), above the
// server's usual lock wait. FreeTDS: TDS_Version=7.4, whose login its time-out bounds.
std::u16string BoundingKeys(std::u16string_view driver, int loginSeconds, int statementSeconds,
                            bool practiceBase);

// True when two texts are equal without regard to ASCII case.
bool SameTextAscii(std::u16string_view a, std::u16string_view b);

}  // namespace zirvo::db

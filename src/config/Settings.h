// The settings as one value: what a settings read found, from the files and the value the
// read before it left. A value is never changed once made: a read makes the next one, the
// service applies it and publishes it whole, and every reader holds the copy it took.
#pragma once

#include <cstdint>
#include <string>

#include "db/ConnectionStrings.h"

namespace zirvo::config {

// The service's registered name, and the settings' default for ZirvoServiceName.
inline constexpr char kServiceName[] = "ZirvoService";

// The SQL Server login (`SC`), shared with the connection-string builder.
using db::TSQLServerSettings;

// Section Proxy, unscrambled. Read just before each access code, not by the settings read.
struct ProxySettings {
  std::string HTTPServer;
  std::string HTTPUserName;
  std::string HTTPPassword;
  std::string HTTPPort;
  bool HTTPBasicAuthentification = false;
};

// How the last settings read ended.
struct SettingsReadOutcome {
  // False when the desktop files name no usable SQL Server folder: the read stopped there,
  // the login is not the one the files ask for and must not be used.
  bool completed = true;
  // The line that said why the read stopped (when not completed).
  std::string abandonMessage;
  // The message of the error that ended the file part (logged as a failed "étape 1"), or
  // empty when that part ran to its end.
  std::string filePartError;
};

// A read replaces a field only when it reaches the step that reads it, so a read that
// stops early keeps the earlier values.
struct Settings {
  bool DebugMode = false;
  // Seconds between two cycles, as applied to the timer.
  std::uint32_t Interval = 1;
  // Empty until a read reaches the key.
  std::string ZirvoServiceName;
  // DBConnexion / MySQLDBPwd as stored (scrambled); empty: downloaded at each cycle.
  std::string MySQLDBPwd;
  std::string MySQLDBPort;
  std::string DataBaseDir;
  // The login with the password unscrambled, and the password as the files hold it.
  TSQLServerSettings SC;
  std::string ScrambledSAPW;
  // The connection string built from SC: what ADO_MSSQLConnection is given.
  std::u16string SqlServerConnectionString;
  // ODBC driver for the SQL Server connection: empty for automatic, "SQLite3" for the
  // embedded database.
  std::string SQLServerDriver;
  // [ODBC] Encrypt: the SQL Server session is encrypted (the server's certificate is not
  // verified: see db::TranslateToOdbc).
  bool SqlServerEncrypt = false;
  // "host" or "host:port" of the SMS gateway and of the remote access code endpoint.
  std::string GatewayHost;
  std::string AccessCodeHost;
  // What the gateway's certificate is held to: 0 nothing, 1 observation (checked and
  // reported), 2 strict (net::TlsVerification).
  int GatewayTlsVerification = 1;
  ProxySettings Proxy;
  SettingsReadOutcome Outcome;
};

}  // namespace zirvo::config

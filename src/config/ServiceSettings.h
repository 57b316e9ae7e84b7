// The values a settings read leaves in memory for the rest of the service.
#pragma once

#include <string>

#include "db/ConnectionStrings.h"

namespace zirvo::config {

// The SQL Server login (`SC`), shared with the connection-string builder.
using db::TSQLServerSettings;

// The process-wide record of settings strings. A settings read replaces a field only when
// it reaches the step that reads it, so a run that stops early keeps earlier values.
struct TServiceSettings {
  std::string ZirvoServiceName;
  std::string MySQLDBPwd;
  std::string MySQLDBPort;
  std::string DataBaseDir;
  std::string HTTPServer;
  std::string HTTPUserName;
  std::string HTTPPassword;
  std::string HTTPPort;
  bool HTTPBasicAuthentification = false;
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
  // The secrets as the settings hold them, scrambled: DBConnexion / MySQLDBPwd and the
  // SAPW the last settings read found. MySQLDBPwd and SC.Password receive plain text in
  // the course of a cycle, so every unscrambling starts from these copies, never from a
  // value that may already be plain (a read that fails half-way would otherwise
  // unscramble a plain password a second time).
  std::string ScrambledMySQLDBPwd;
  std::string ScrambledSAPW;
};

}  // namespace zirvo::config

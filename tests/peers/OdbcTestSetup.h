// A private ODBC configuration for the test process: the drivers registered by absolute
// path in an odbcinst.ini of our own (ODBCSYSINI) and user data sources in a file of our
// own (ODBCINI), so no test depends on what the machine has registered. unixODBC reads
// both variables once per process, so they are set before any test runs.
#pragma once

#include <string>

namespace zirvo::test {

// Driver names registered in the private odbcinst.ini.
inline constexpr char kSqliteDriver[] = "SQLite3";
inline constexpr char kMariaDbDriver[] = "MariaDB Unicode";
inline constexpr char kFreeTdsDriver[] = "FreeTDS";

// The private user data-source file; tests append sections to it.
std::string UserDataSourceFile();

// Appends one data source section to the user data-source file.
void AddUserDataSource(const std::string& name, const std::string& body);

// The schema script of a backend ("sqlite", "mariadb", "sqlserver").
std::string SchemaFile(const std::string& backend);

// A loopback TCP port nobody listens on at the moment of the call.
int FreeLoopbackPort();

}  // namespace zirvo::test

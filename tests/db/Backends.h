// Fresh databases with the desktop application's tables, on the backends the tests can
// run: SQLite through its ODBC driver (a file in a temporary folder) and the tests'
// MariaDB server (a new database each time).
#pragma once

#include <memory>
#include <string>

#include "db/Connection.h"
#include "support/TempDir.h"

namespace zirvo::test {

// Runs a schema script: statements end with ';' at a line end; "--" lines are comments.
void RunScript(db::Connection& connection, const std::string& path);

class TestDatabase {
 public:
  virtual ~TestDatabase() = default;
  // A closed connection set up for this database, as the service would set it up.
  virtual std::unique_ptr<db::Connection> NewConnection() const = 0;
  virtual std::string Backend() const = 0;  // "sqlite" or "mariadb"
};

// A SQLite database file in a temporary folder, reached as the SQL Server connection
// with the driver "SQLite3" (Data Source = the file).
class SqliteDatabase : public TestDatabase {
 public:
  explicit SqliteDatabase(bool withSchema = true);
  std::unique_ptr<db::Connection> NewConnection() const override;
  std::string Backend() const override { return "sqlite"; }
  std::string File() const { return directory_.File("Varnox.db"); }

 private:
  TempDir directory_;
};

// A new database on the shared MariaDB server, reached through the data source
// "QuenzarMySQLDB" with an OLE DB "MSDASQL.1" string naming it as the catalog.
class MariaDbDatabase : public TestDatabase {
 public:
  explicit MariaDbDatabase(bool withSchema = true);
  ~MariaDbDatabase() override;
  std::unique_ptr<db::Connection> NewConnection() const override;
  std::string Backend() const override { return "mariadb"; }

 private:
  std::string name_;
};

std::unique_ptr<TestDatabase> MakeTestDatabase(const std::string& backend);

}  // namespace zirvo::test

#include "db/Backends.h"

#include <atomic>
#include <random>
#include <sstream>

#include "db/ConnectionStrings.h"
#include "db/Query.h"
#include "peers/MariaDbServer.h"
#include "peers/OdbcTestSetup.h"
#include "platform/CodePage.h"
#include "support/TestLabels.h"

namespace zirvo::test {

void RunScript(db::Connection& connection, const std::string& path) {
  std::istringstream script(ReadFileBytes(path));
  std::string line;
  std::string statement;
  db::Query query(connection);
  while (std::getline(script, line)) {
    if (line.rfind("--", 0) == 0) continue;
    statement += line + "\n";
    if (!line.empty() && line.back() == ';') {
      statement.erase(statement.size() - 2);  // the ';' and the line end
      query.SetText(statement);
      query.Execute();
      statement.clear();
    }
  }
}

SqliteDatabase::SqliteDatabase(bool withSchema) {
  RequireTestLabel("sqlite");
  WriteFileBytes(File(), "");  // an empty file is an empty database
  if (withSchema) {
    auto connection = NewConnection();
    connection->Open();
    RunScript(*connection, SchemaFile("sqlite"));
  }
}

std::unique_ptr<db::Connection> SqliteDatabase::NewConnection() const {
  db::TSQLServerSettings sc;
  sc.ServerName = platform::AnsiToWide(File());
  auto connection = std::make_unique<db::Connection>(db::BuildSQLServerConnectionString(sc, Log()));
  connection->SetSqlServerDriver(u"SQLite3");
  connection->SetLoginTimeout(3);
  return connection;
}

MariaDbDatabase::MariaDbDatabase(bool withSchema) {
  // Unique on a server that other test processes share.
  static const std::string prefix = "Varnox" + std::to_string(std::random_device()()) + "_";
  static std::atomic<int> counter{0};
  name_ = prefix + std::to_string(++counter);
  SharedMariaDb().RunAsRoot("CREATE DATABASE " + name_ + ";");
  if (withSchema) {
    auto connection = NewConnection();
    connection->Open();
    RunScript(*connection, SchemaFile("mariadb"));
  }
}

MariaDbDatabase::~MariaDbDatabase() {
  try {
    SharedMariaDb().RunAsRoot("DROP DATABASE " + name_ + ";");
  } catch (...) {
    // The server goes away with the process anyway.
  }
}

std::unique_ptr<db::Connection> MariaDbDatabase::NewConnection() const {
  std::u16string text = db::MySQLConnectionString(platform::AnsiToWide(MariaDbServer::kPassword));
  const auto at = text.find(u"Initial Catalog=Quenzar");
  text.replace(at, std::u16string::npos, u"Initial Catalog=" + platform::AnsiToWide(name_));
  auto connection = std::make_unique<db::Connection>(text);
  connection->SetLoginTimeout(5);
  return connection;
}

std::unique_ptr<TestDatabase> MakeTestDatabase(const std::string& backend) {
  if (backend == "mariadb") return std::make_unique<MariaDbDatabase>();
  return std::make_unique<SqliteDatabase>();
}

}  // namespace zirvo::test

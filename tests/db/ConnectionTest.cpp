// Opening and closing connections for real, and how real ODBC failures reach the log:
// each gives a clear message through the error handler and none makes the caller wait.
#include "db/Connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "db/Backends.h"
#include "db/ConnectionStrings.h"
#include "db/DatabaseError.h"
#include "db/DatabaseErrorHandler.h"
#include "db/Query.h"
#include "peers/MariaDbServer.h"
#include "peers/OdbcTestSetup.h"
#include "platform/CodePage.h"

namespace zirvo::db {
namespace {

using Lines = std::vector<std::string>;
using std::chrono::steady_clock;

// The log lines the error handler writes for what opening `connection` raises.
Lines OpenFailureLines(Connection& connection) {
  Lines lines;
  try {
    connection.Open();
    ADD_FAILURE() << "the open was expected to fail";
  } catch (const Exception& error) {
    HandleDatabaseError(error, Log([&](const std::string& line) { lines.push_back(line); }),
                        [&] { lines.push_back("<state>"); });
  }
  EXPECT_FALSE(connection.Connected());
  return lines;
}

TEST(Connection, OpenCloseAndTheStringFollowTheirRules) {
  test::SqliteDatabase database;
  auto connection = database.NewConnection();
  const std::u16string text = connection->ConnectionString();
  EXPECT_FALSE(connection->Connected());
  connection->Close();  // closing a closed connection does nothing
  connection->SetConnected(true);
  EXPECT_TRUE(connection->Connected());
  EXPECT_FALSE(connection->IsSqlServer());
  connection->Open();  // already open: nothing happens
  EXPECT_THROW(connection->SetConnectionString(u"Provider=MSDASQL.1;Data Source=x"), Exception);
  EXPECT_EQ(connection->ConnectionString(), text);
  connection->SetConnected(false);
  EXPECT_FALSE(connection->Connected());
  Query query(*connection);
  query.SetText("select 1 as one");
  EXPECT_THROW(query.Open(), Exception) << "a closed connection runs nothing";
  connection->Open();
  query.Open();
  EXPECT_EQ(query.FieldAsInteger("one"), 1);

  // A driver's message quotes outside text (here a table name): its control bytes are
  // written "\xNN" so they cannot break or forge a log line.
  Query forged(*connection);
  forged.SetText("select * from \"a\r\n01/01/2026 00:00:00 : faux\x1b[2J\"");
  try {
    forged.Open();
    ADD_FAILURE() << "no such table";
  } catch (const Exception& error) {
    EXPECT_NE(error.Message().find("a\\x0D\\x0A01/01/2026 00:00:00 : faux\\x1B[2J"),
              std::string::npos)
        << error.Message();
  }
}

TEST(Connection, MySQLDataSourceOpensWithTheAccessCodeAndRefusesAWrongOne) {
  test::SharedMariaDb();
  Connection mySql(kMySQLCreationConnectionString);
  Lines log;
  const auto writeLog = [&](const std::string& line) { log.push_back(line); };
  InitMySQLDB(mySql, platform::AnsiToWide(test::MariaDbServer::kPassword),
              Log(writeLog, [] { return true; }));
  EXPECT_EQ(log, Lines{"InitMySQLDB terminé."});
  mySql.SetLoginTimeout(5);
  mySql.Open();
  EXPECT_TRUE(mySql.Connected());
  // InitMySQLDB closes an open connection before replacing its string.
  InitMySQLDB(mySql, u"wrong", Log(writeLog));
  EXPECT_FALSE(mySql.Connected());
  EXPECT_EQ(mySql.ConnectionString(), MySQLConnectionString(u"wrong"));
  const Lines lines = OpenFailureLines(mySql);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("! ", 0), 0u);
  EXPECT_NE(lines[0].find("Access denied for user 'quenzar'"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("(SQLSTATE 28000, code natif 1045)"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1], "<state>");
}

TEST(Connection, AnSQLiteDataSourceUsesItsOwnFileAndLeavesTheWorkingDirectoryAlone) {
  // The embedded default puts an SQLite file behind the MySQL data source; the catalog
  // "Quenzar" of the MySQL string used to become a file of that name in the working
  // directory ("/" under systemd).
  test::TempDir sourceFolder;
  test::TempDir working;
  const std::string file = sourceFolder.File("quenzar-mysql.db");
  test::AddUserDataSource("ZirvoSqliteSource",
                          "Driver=" + std::string(test::kSqliteDriver) + "\nDatabase=" + file);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(working.Path());
  struct Restore {
    std::filesystem::path path;
    ~Restore() { std::filesystem::current_path(path); }
  } restore{previous};

  std::u16string text = MySQLConnectionString(u"code");
  text.replace(text.find(u"QuenzarMySQLDB"), 14, u"ZirvoSqliteSource");
  Connection mySql(text);
  mySql.Open();
  Query query(mySql);
  query.SetText("create table probe (x integer)");
  query.Execute();
  mySql.Close();
  EXPECT_TRUE(std::filesystem::is_empty(working.Path()))
      << std::filesystem::directory_iterator(working.Path())->path();
  EXPECT_TRUE(std::filesystem::exists(file)) << "the data source's file takes the table";
}

TEST(Connection, UnreachableServersMissingSourcesAndBrokenStringsFailQuicklyAndClearly) {
  // FreeTDS against a loopback port nobody listens on: the driver's own attempt fails.
  const int closedPort = test::FreeLoopbackPort();
  TSQLServerSettings sc{u"127.0.0.1," + platform::AnsiToWide(std::to_string(closedPort)), u"Varnox",
                        u"", u"pw"};
  Connection sqlServer(BuildSQLServerConnectionString(sc, Log()));
  sqlServer.SetSqlServerDriver(u"FreeTDS");
  sqlServer.SetLoginTimeout(3);
  const auto started = steady_clock::now();
  Lines lines = OpenFailureLines(sqlServer);
  EXPECT_LT(steady_clock::now() - started, std::chrono::seconds(15));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("! [", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("[FreeTDS]"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("(SQLSTATE 08001"), std::string::npos) << lines[0];

  // On Linux the automatic SQL Server driver is FreeTDS.
  Connection automatic(BuildSQLServerConnectionString(sc, Log()));
  automatic.SetLoginTimeout(3);
  EXPECT_NE(OpenFailureLines(automatic)[0].find("[FreeTDS]"), std::string::npos);

  Connection noSource(u"Provider=MSDASQL.1;Password=x;User ID=u;Data Source=NoSuchSource");
  lines = OpenFailureLines(noSource);
  EXPECT_NE(lines[0].find("(SQLSTATE IM002"), std::string::npos) << lines[0];

  // A driver the driver manager does not list, or a library path (which it would load),
  // is refused before any driver is loaded, naming the key to correct.
  for (const std::u16string driver :
       {u"ODBC Driver 18 for SQL Server", u"/tmp/evil.so", u"..\\evil.dll", u"FreeTDS/../evil"}) {
    Connection refused(BuildSQLServerConnectionString(sc, Log()));
    refused.SetSqlServerDriver(driver);
    lines = OpenFailureLines(refused);
    EXPECT_EQ(lines[0].rfind("! Pilote SQL Server refusé (clé SQLServerDriver de la section ODBC) "
                             ": « " +
                                 platform::WideToAnsi(driver) + " » ",
                             0),
              0u)
        << lines[0];
  }

  // A semicolon in the password: refused before any driver sees the string.
  sc.Password = u"ab;cd";
  Connection semicolon(BuildSQLServerConnectionString(sc, Log()));
  lines = OpenFailureLines(semicolon);
  EXPECT_EQ(lines[0],
            "! Chaîne de connexion invalide : segment sans signe égal après la clé « Password » "
            "(une valeur contient-elle un point-virgule ?)");

  test::TempDir folder;
  TSQLServerSettings mistyped{platform::AnsiToWide(folder.File("Varnx.db")), u"", u"", u""};
  Connection noDatabase(BuildSQLServerConnectionString(mistyped, Log()));
  noDatabase.SetSqlServerDriver(u"SQLite3");
  lines = OpenFailureLines(noDatabase);
  EXPECT_NE(lines[0].find("SQLSTATE"), std::string::npos) << lines[0];
  EXPECT_FALSE(std::filesystem::exists(folder.File("Varnx.db"))) << "no empty database left behind";
  mistyped.ServerName.clear();
  Connection noPath(BuildSQLServerConnectionString(mistyped, Log()));
  noPath.SetSqlServerDriver(u"SQLite3");
  EXPECT_NE(OpenFailureLines(noPath)[0].find("Data Source"), std::string::npos);

  test::TempDir missingFolder;
  TSQLServerSettings sqlite{platform::AnsiToWide(missingFolder.File("nowhere/Varnox.db")), u"", u"",
                            u""};
  Connection noFile(BuildSQLServerConnectionString(sqlite, Log()));
  noFile.SetSqlServerDriver(u"SQLite3");
  lines = OpenFailureLines(noFile);
  EXPECT_EQ(lines[0].rfind("! ", 0), 0u);
  EXPECT_NE(lines[0].find("SQLSTATE"), std::string::npos) << lines[0];
}

TEST(Connection, EveryDriverEndsItsWaitOnAFrozenServerWithinItsBoundsAndRecoversAfter) {
  // A server of its own, frozen: it takes connections and answers nothing. Reached both
  // ways the service reaches MariaDB, and by FreeTDS (the practice base's driver here).
  test::MariaDbServer server{test::MariaDbServer::Own{}};
  const std::u16string port = platform::AnsiToWide(std::to_string(server.Port()));
  test::AddUserDataSource("ZirvoFrozenSource",
                          "Driver=" + std::string(test::kMariaDbDriver) +
                              "\nServer=127.0.0.1\nPort=" + std::to_string(server.Port()));
  const std::u16string password = platform::AnsiToWide(test::MariaDbServer::kPassword);
  std::u16string mySqlText = MySQLConnectionString(password);
  mySqlText.replace(mySqlText.find(u"QuenzarMySQLDB"), 14, u"ZirvoFrozenSource");
  Connection mySql(mySqlText);
  const TSQLServerSettings sc{u"127.0.0.1," + port, u"Varnox",
                              platform::AnsiToWide(test::MariaDbServer::kUser), password};
  Connection practice(BuildSQLServerConnectionString(sc, Log()));
  practice.SetSqlServerDriver(platform::AnsiToWide(test::kMariaDbDriver));
  Connection freeTds(BuildSQLServerConnectionString(sc, Log()));
  freeTds.SetSqlServerDriver(platform::AnsiToWide(test::kFreeTdsDriver));
  for (Connection* connection : {&mySql, &practice, &freeTds}) {
    connection->SetLoginTimeout(2);
    connection->SetQueryTimeout(2);
  }
  practice.Open();
  Query statement(practice);
  statement.SetText("select 1 as one");
  server.SetFrozen(true);
  // Each step must fail by itself; one that waits for the server is woken after 30 s, so
  // that the test fails rather than hangs.
  const auto failsAlone = [&server](const std::function<void()>& step, const char* what) {
    auto outcome = std::async(std::launch::async, [&step] {
      try {
        step();
      } catch (const Exception& error) {
        return error.Message();
      }
      return std::string();
    });
    const bool ended = outcome.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!ended) server.SetFrozen(false);
    EXPECT_TRUE(ended) << what << " waited for the server";
    EXPECT_NE(outcome.get(), "") << what;
  };
  failsAlone([&] { mySql.Open(); }, "the data source's handshake");
  failsAlone([&] { statement.Open(); }, "a statement of the practice base");
  failsAlone([&] { freeTds.Open(); }, "FreeTDS's login");

  server.SetFrozen(false);
  practice.Close();
  practice.Open();
  statement.Open();
  EXPECT_EQ(statement.FieldAsInteger("one"), 1);
  mySql.Open();
  EXPECT_TRUE(mySql.Connected());
}

}  // namespace
}  // namespace zirvo::db

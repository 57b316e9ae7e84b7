// The two connection strings as the desktop installation knows them, and what ODBC gets.
#include "db/ConnectionStrings.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/Errors.h"

namespace zirvo::db {
namespace {

const std::u16string kSegment1 =
    u"Provider=MSOLEDBSQL.1;Persist Security Info=True;Initial File Name=\"\";Server SPN=\"\";"
    u"Authentication=\"\";Access Token=\"\";";

struct Built {
  std::u16string text;
  std::vector<std::string> log;
};

Built Build(const TSQLServerSettings& sc, bool debugMode = true) {
  Built built;
  built.text = BuildSQLServerConnectionString(
      sc, Log([&](const std::string& line) { built.log.push_back(line); },
              [debugMode] { return debugMode; }));
  return built;
}

TEST(SQLServerConnectionString, SegmentsFollowTheLoginAndTheLogNeverShowsThePassword) {
  Built empty = Build({});
  EXPECT_EQ(empty.text, kSegment1 + u"Data Source=;");
  ASSERT_EQ(empty.log.size(), 1u);
  EXPECT_EQ(empty.log[0],
            "ConnStr=[" + std::string(kSegment1.begin(), kSegment1.end()) + "Data Source=;]");

  Built noUser = Build({u"SRV\\SQLEXPRESS", u"Varnox", u"", u"s3cr;et"});
  EXPECT_EQ(noUser.text, kSegment1 +
                             u"Data Source=SRV\\SQLEXPRESS;Initial Catalog=Varnox;User ID=sa;"
                             u"Password=s3cr;et;");
  ASSERT_EQ(noUser.log.size(), 1u);
  EXPECT_EQ(noUser.log[0].substr(noUser.log[0].size() - 10), "Password=]");
  EXPECT_EQ(noUser.log[0].find("s3cr"), std::string::npos);

  Built userWithoutPassword = Build({u"srv", u"", u"docteur", u""}, false);
  EXPECT_EQ(userWithoutPassword.text, kSegment1 + u"Data Source=srv;");
  EXPECT_TRUE(userWithoutPassword.log.empty());

  Built full = Build({u"srv", u"db", u"docteur", u"pw"});
  EXPECT_EQ(full.text,
            kSegment1 + u"Data Source=srv;Initial Catalog=db;User ID=docteur;Password=pw;");
}

TEST(MySQLConnectionString, PasswordIsInsertedVerbatimAndCreationStringsAreComplete) {
  EXPECT_EQ(MySQLConnectionString(u""),
            u"Provider=MSDASQL.1;Password=;Persist Security Info=True;User ID=quenzar;"
            u"Data Source=QuenzarMySQLDB;Initial Catalog=Quenzar");
  EXPECT_EQ(MySQLConnectionString(u"a b"),
            u"Provider=MSDASQL.1;Password=a b;Persist Security Info=True;User ID=quenzar;"
            u"Data Source=QuenzarMySQLDB;Initial Catalog=Quenzar");
  EXPECT_EQ(
      kSQLServerCreationConnectionString.rfind(
          u"Provider=MSOLEDBSQL.1;Persist Security Info=False;User ID=sa;Initial Catalog=", 0),
      0u);
  EXPECT_NE(
      kSQLServerCreationConnectionString.find(
          u";Data Source=localhost;Initial File Name=\"\";Server SPN=\"\";Authentication=\"\";"
          u"Access Token=\"\";"),
      std::u16string::npos);
  EXPECT_NO_THROW(TranslateToOdbc(kSQLServerCreationConnectionString, u"FreeTDS"));
  EXPECT_NO_THROW(TranslateToOdbc(kMySQLCreationConnectionString, u"FreeTDS"));
}

TEST(OdbcTranslation, EachProviderBecomesItsDriverWithValuesThatCannotAddKeys) {
  EXPECT_EQ(
      TranslateToOdbc(Build({u"127.0.0.1,1433", u"Varnox", u"", u"pw"}, false).text, u"FreeTDS"),
      u"DRIVER=FreeTDS;SERVER=127.0.0.1;PORT=1433;DATABASE=Varnox;UID=sa;PWD=pw;");
  EXPECT_EQ(TranslateToOdbc(Build({u"SRV\\INST", u"", u"", u""}, false).text,
                            u"ODBC Driver 18 for SQL Server"),
            u"DRIVER=ODBC Driver 18 for SQL Server;SERVER=SRV\\INST;Encrypt=no;");
  EXPECT_EQ(TranslateToOdbc(Build({u"C:\\base de test\\Varnox.db", u"x", u"u", u"p"}, false).text,
                            u"SQLite3"),
            u"DRIVER=SQLite3;Database=C:\\base de test\\Varnox.db;NoCreat=1;Timeout=5000;");
  EXPECT_EQ(TranslateToOdbc(MySQLConnectionString(u"p{a}ss=w"), u"ignored"),
            u"DSN=QuenzarMySQLDB;DATABASE=Quenzar;UID=quenzar;PWD={p{a}}ss=w};");
  // Behind an SQLite data source the catalog would name a file in the working directory.
  EXPECT_EQ(TranslateToOdbc(MySQLConnectionString(u"p"), u"", u"SQLite3 ODBC Driver"),
            u"DSN=QuenzarMySQLDB;UID=quenzar;PWD=p;");
  EXPECT_EQ(TranslateToOdbc(MySQLConnectionString(u"p"), u"", u"MariaDB Unicode"),
            u"DSN=QuenzarMySQLDB;DATABASE=Quenzar;UID=quenzar;PWD=p;");
  EXPECT_EQ(TranslateToOdbc(u"Provider=MSDASQL.1;Data Source=\"My DSN\";Password=", u""),
            u"DSN=My DSN;PWD=;");
  // Encryption on request: each driver's own keys, nothing for a local file, and a refusal
  // where the driver has no such key (it would connect in clear).
  const std::u16string server = Build({u"SRV", u"", u"", u""}, false).text;
  EXPECT_EQ(TranslateToOdbc(server, u"ODBC Driver 17 for SQL Server", u"", true),
            u"DRIVER=ODBC Driver 17 for SQL Server;SERVER=SRV;Encrypt=yes;"
            u"TrustServerCertificate=yes;");
  EXPECT_EQ(TranslateToOdbc(server, u"FreeTDS", u"", true),
            u"DRIVER=FreeTDS;SERVER=SRV;Encryption=require;");
  EXPECT_EQ(TranslateToOdbc(server, u"FreeTDS"), u"DRIVER=FreeTDS;SERVER=SRV;");
  EXPECT_EQ(TranslateToOdbc(Build({u"/b.db", u"", u"", u""}, false).text, u"SQLite3", u"", true),
            u"DRIVER=SQLite3;Database=/b.db;NoCreat=1;Timeout=5000;");
  try {
    TranslateToOdbc(server, u"SQL Server", u"", true);
    ADD_FAILURE() << "unencrypted connection accepted";
  } catch (const Exception& error) {
    EXPECT_NE(error.Message().find("clé Encrypt de la section ODBC"), std::string::npos);
  }
}

TEST(OdbcTranslation, BrokenStringsGiveFrenchMessagesThatHideWhatFollowsThePassword) {
  const auto messageOf = [](const std::u16string& text) {
    try {
      TranslateToOdbc(text, u"FreeTDS");
    } catch (const Exception& error) {
      return error.Message();
    }
    return std::string("no error");
  };
  // A semicolon inside the password cuts it; the rest must not leak into the message.
  const std::string cut = messageOf(Build({u"srv", u"", u"", u"abc;defsecret"}, false).text);
  EXPECT_EQ(cut,
            "Chaîne de connexion invalide : segment sans signe égal après la clé « Password » "
            "(une valeur contient-elle un point-virgule ?)");
  const std::string injected = messageOf(Build({u"srv", u"", u"", u"x;User ID=admin"}, false).text);
  EXPECT_NE(injected.find("clé répétée après la clé « Password »"), std::string::npos) << injected;
  EXPECT_EQ(injected.find("admin"), std::string::npos);
  const std::string unknown = messageOf(Build({u"srv", u"", u"", u"x;Encrypt=no"}, false).text);
  EXPECT_NE(unknown.find("clé inconnue après la clé « Password »"), std::string::npos) << unknown;
  EXPECT_EQ(unknown.find("Encrypt"), std::string::npos);
  EXPECT_EQ(messageOf(u"Provider=SQLOLEDB.1;Data Source=x"),
            "Fournisseur de base de données « SQLOLEDB.1 » non pris en charge");
  EXPECT_NE(messageOf(u"Provider=MSOLEDBSQL.1;Initial Catalog=x").find("Data Source"),
            std::string::npos);
  EXPECT_NE(messageOf(u"Provider=MSDASQL.1;Password=x").find("source de données"),
            std::string::npos);
  EXPECT_NE(messageOf(kSegment1 + u"Data Source=s;Server SPN=MSSQLSvc/x").find("clé répétée"),
            std::string::npos);
}

TEST(SqlServerDriver, ConfiguredNameWinsElseBestInstalledElseLastCandidate) {
  const std::vector<std::u16string> windows = {u"ODBC Driver 18 for SQL Server",
                                               u"ODBC Driver 17 for SQL Server", u"SQL Server"};
  EXPECT_EQ(ResolveSqlServerDriver(u"SQLite3", {}, windows), u"SQLite3");
  EXPECT_EQ(ResolveSqlServerDriver(u"", {u"SQL Server", u"odbc driver 17 for sql server"}, windows),
            u"ODBC Driver 17 for SQL Server");
  EXPECT_EQ(ResolveSqlServerDriver(u"", {u"Microsoft Access Driver (*.mdb)"}, windows),
            u"SQL Server");
  EXPECT_EQ(ResolveSqlServerDriver(u"", {}, {u"FreeTDS"}), u"FreeTDS");
}

}  // namespace
}  // namespace zirvo::db

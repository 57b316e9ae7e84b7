// The self-check's judgement of what it finds, on real parts: the test MariaDB server
// behind the data source "QuenzarMySQLDB".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/Common.h"
#include "peers/MariaDbServer.h"
#include "service/SelfCheck.h"
#include "support/TempDir.h"

namespace zirvo::service {
namespace {

// The server's refusal of a wrong access code names the code, not the data source.
TEST(SelfCheck, AWrongAccessCodeIsNamedAsSuch) {
  test::SharedMariaDb();
  test::TempDir dir;
  test::WriteFileBytes(dir.File("ZirvoSrv.ini"),
                       "[Main]\r\nInterval=3600\r\n[DBConnexion]\r\nMySQLDBPwd=" +
                           config::ScramblePassword("pas-le-bon") +
                           "\r\n[Endpoints]\r\nGatewayHost=127.0.0.1:1\r\n[ODBC]\r\n"
                           "SQLServerDriver=SQLite3\r\n[DBKERNEL]\r\nServerName=" +
                           dir.File("Varnox.db") + "\r\n");
  std::vector<std::string> lines;
  RunSelfCheck({.executablePath = dir.File("ZirvoSrv"),
                .stateQuery = [](const std::string&, const std::string&) { return std::nullopt; },
                .print = [&](const std::string& line) { lines.push_back(line); }});
  std::string mySql;
  for (const std::string& line : lines) {
    if (line.rfind("5/7 ", 0) == 0) mySql = line;
  }
  EXPECT_NE(mySql.find(" : ÉCHEC - le serveur MySQL refuse le code d'accès : "), std::string::npos)
      << mySql;
  EXPECT_NE(mySql.find("corrigez la clé MySQLDBPwd"), std::string::npos) << mySql;
}

}  // namespace
}  // namespace zirvo::service

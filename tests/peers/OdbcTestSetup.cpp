#include "peers/OdbcTestSetup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "support/TempDir.h"

namespace zirvo::test {

namespace {

class OdbcEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    directory_ = std::make_unique<TempDir>();
    std::ofstream drivers(directory_->File("odbcinst.ini"));
    drivers << "[" << kSqliteDriver << "]\nDriver=" << ZIRVO_SQLITE3_ODBC_DRIVER << "\n\n"
            << "[" << kMariaDbDriver << "]\nDriver=" << ZIRVO_MARIADB_ODBC_DRIVER << "\n\n"
            << "[" << kFreeTdsDriver << "]\nDriver=" << ZIRVO_FREETDS_ODBC_DRIVER << "\n";
    drivers.close();
    WriteFileBytes(directory_->File("odbc.ini"), "");
    WriteFileBytes(directory_->File("user-odbc.ini"), "");
    setenv("ODBCSYSINI", directory_->Path().string().c_str(), 1);
    setenv("ODBCINSTINI", "odbcinst.ini", 1);
    setenv("ODBCINI", directory_->File("user-odbc.ini").c_str(), 1);
    // FreeTDS reads its own configuration too; point it at an empty one.
    WriteFileBytes(directory_->File("freetds.conf"), "[global]\n");
    setenv("FREETDSCONF", directory_->File("freetds.conf").c_str(), 1);
  }
  void TearDown() override { directory_.reset(); }

 private:
  std::unique_ptr<TempDir> directory_;
};

[[maybe_unused]] auto* const kOdbcEnvironment =
    ::testing::AddGlobalTestEnvironment(new OdbcEnvironment);

}  // namespace

std::string UserDataSourceFile() {
  const char* path = std::getenv("ODBCINI");
  if (path == nullptr) throw std::runtime_error("ODBC test configuration missing");
  return path;
}

void AddUserDataSource(const std::string& name, const std::string& body) {
  std::ofstream(UserDataSourceFile(), std::ios::app) << "[" << name << "]\n" << body << "\n";
}

std::string SchemaFile(const std::string& backend) {
  return std::string(ZIRVO_SCHEMA_DIR) + "/" + backend + ".sql";
}

int FreeLoopbackPort() {
  // The kernel hands out a free port to a socket bound to port 0; Python asks it for us.
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(
      popen("python3 -c 'import socket; s=socket.socket(); s.bind((\"127.0.0.1\", 0)); "
            "print(s.getsockname()[1])'",
            "r"),
      pclose);
  if (!pipe) throw std::runtime_error("python3 unavailable");
  int port = 0;
  if (std::fscanf(pipe.get(), "%d", &port) != 1 || port <= 0) {
    throw std::runtime_error("no free loopback port");
  }
  return port;
}

}  // namespace zirvo::test

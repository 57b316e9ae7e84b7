#include "peers/MariaDbServer.h"

#include <signal.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "peers/OdbcTestSetup.h"
#include "support/TestLabels.h"

namespace zirvo::test {

namespace {

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string Quoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) {
    if (c == '\'')
      result += "'\\''";
    else
      result += c;
  }
  return result + "'";
}

std::string Script() { return std::string(ZIRVO_PEERS_DIR) + "/mariadb_server.py"; }

std::string FirstLine(const std::string& path) {
  const std::string text = ReadFileBytes(path);
  return text.substr(0, text.find('\n'));
}

}  // namespace

MariaDbServer::MariaDbServer(bool own) {
  RequireTestLabel("mariadb");
  std::string state;
  if (const char* shared = std::getenv("ZIRVO_MARIADB_STATE");
      !own && shared != nullptr && *shared) {
    state = shared;
  } else {
    own_.emplace();
    state = own_->File("state");
    // The server's watcher follows this process ($PPID of the shell).
    if (Shell("python3 " + Quoted(Script()) + " start " + Quoted(state) + " --watch $PPID >" +
              Quoted(own_->File("start.log")) + " 2>&1") != 0) {
      throw std::runtime_error("MariaDB did not start: " + ReadFileBytes(own_->File("start.log")));
    }
  }
  directory_ = FirstLine(state);
  const std::string port = FirstLine(directory_ + "/port");
  if (directory_.empty() || port.empty()) {
    throw std::runtime_error("no MariaDB server is running (" + state + ")");
  }
  port_ = std::stoi(port);
  // Test processes sharing the server may run this side by side.
  const std::string user = std::string(kUser);
  const std::string password = std::string(kPassword);
  std::string sql = "CREATE DATABASE IF NOT EXISTS Quenzar; CREATE DATABASE IF NOT EXISTS Varnox;";
  for (const char* host : {"localhost", "%"}) {
    const std::string account =
        std::string("'").append(user).append("'@'").append(host).append("'");
    sql.append(" CREATE USER IF NOT EXISTS ").append(account).append(" IDENTIFIED BY '");
    sql.append(password).append("'; GRANT ALL ON *.* TO ").append(account).append(";");
  }
  RunAsRoot(sql);
}

void MariaDbServer::RunAsRoot(const std::string& sql) const {
  const TempDir output;
  if (Shell("mariadb --no-defaults --socket=" + Quoted(directory_ + "/server.sock") +
            " -uroot -e " + Quoted(sql) + " >" + Quoted(output.File("client.log")) + " 2>&1") !=
      0) {
    throw std::runtime_error("SQL failed: " + ReadFileBytes(output.File("client.log")));
  }
}

void MariaDbServer::SetFrozen(bool frozen) {
  if (!own_) throw std::logic_error("only a server of the test's own may be frozen");
  const std::string pid = FirstLine(directory_ + "/server.pid");
  if (pid.empty() || ::kill(std::stoi(pid), frozen ? SIGSTOP : SIGCONT) != 0) {
    throw std::runtime_error("MariaDB cannot be signalled (" + directory_ + ")");
  }
  frozen_ = frozen;
}

MariaDbServer::~MariaDbServer() {
  try {
    if (frozen_) SetFrozen(false);
  } catch (const std::exception&) {
    // Stopping kills a server that cannot be woken.
  }
  if (own_) Shell("python3 " + Quoted(Script()) + " stop " + Quoted(own_->File("state")));
}

MariaDbServer& SharedMariaDb() {
  // A server that failed to start fails every later test at once instead of being tried
  // again for each of them.
  static std::string failure;
  if (!failure.empty()) throw std::runtime_error(failure);
  static MariaDbServer* const server = [] {
    static std::unique_ptr<MariaDbServer> instance;
    try {
      instance = std::make_unique<MariaDbServer>();
    } catch (const std::exception& error) {
      failure = error.what();
      throw;
    }
    AddUserDataSource("QuenzarMySQLDB",
                      "Driver=" + std::string(kMariaDbDriver) +
                          "\nServer=127.0.0.1\nPort=" + std::to_string(instance->Port()) + "\n");
    return instance.get();
  }();
  return *server;
}

}  // namespace zirvo::test

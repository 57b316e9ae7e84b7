#include "peers/MariaDbServer.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

#include "peers/OdbcTestSetup.h"

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

}  // namespace

MariaDbServer::MariaDbServer() {
  const std::string dir = directory_.Path().string();
  // Its own folder for temporary tables and files: servers of test processes running
  // side by side must not meet in /tmp.
  std::filesystem::create_directories(dir + "/tmp");
  if (Shell("TMPDIR=" + Quoted(dir + "/tmp") + " mariadb-install-db --no-defaults --datadir=" +
            Quoted(dir + "/data") + " --tmpdir=" + Quoted(dir + "/tmp") +
            " --user=root --auth-root-authentication-method=normal --skip-test-db"
            " --skip-name-resolve >" +
            Quoted(dir + "/install.log") + " 2>&1") != 0) {
    throw std::runtime_error("mariadb-install-db failed: " + ReadFileBytes(dir + "/install.log"));
  }
  // The port is free when chosen but may be taken before the server binds it (another
  // test process): then the server stops at once, and it is started again on another.
  constexpr int kAttempts = 4;
  for (int attempt = 1;; ++attempt) {
    if (TryStart()) break;
    if (attempt == kAttempts) {
      throw std::runtime_error("MariaDB did not start: " + ReadFileBytes(dir + "/server.log"));
    }
  }
  const std::string user = std::string(kUser);
  const std::string password = std::string(kPassword);
  RunAsRoot(
      "CREATE DATABASE Quenzar; CREATE DATABASE Varnox;"
      " CREATE USER '" +
      user + "'@'localhost' IDENTIFIED BY '" + password +
      "';"
      " CREATE USER '" +
      user + "'@'%' IDENTIFIED BY '" + password +
      "';"
      " GRANT ALL ON *.* TO '" +
      user +
      "'@'localhost';"
      " GRANT ALL ON *.* TO '" +
      user + "'@'%';");
}

bool MariaDbServer::TryStart() {
  const std::string dir = directory_.Path().string();
  port_ = FreeLoopbackPort();
  // The watchdog polls the test process ($PPID of this shell) and stops the server when it
  // is gone, so a crashed test run leaves no server behind.
  const std::string command =
      "cd " + Quoted(dir) +
      " && rm -f server.pid && "
      "(timeout 1800 mariadbd --no-defaults --user=root --datadir=" +
      Quoted(dir + "/data") + " --socket=" + Quoted(dir + "/server.sock") +
      " --port=" + std::to_string(port_) + " --tmpdir=" + Quoted(dir + "/tmp") +
      " --bind-address=127.0.0.1 --skip-name-resolve --pid-file=" + Quoted(dir + "/server.pid") +
      " --log-error=" + Quoted(dir + "/server.log") +
      " --innodb-buffer-pool-size=16M --skip-log-bin --max-connections=50"
      " </dev/null >/dev/null 2>&1 &) ; "
      "tp=$PPID; (while kill -0 $tp 2>/dev/null; do sleep 1; done;"
      " kill $(cat " +
      Quoted(dir + "/server.pid") +
      " 2>/dev/null) 2>/dev/null)"
      " </dev/null >/dev/null 2>&1 &";
  std::filesystem::remove(dir + "/server.log");
  if (Shell(command) != 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Shell("mariadb-admin --no-defaults --socket=" + Quoted(dir + "/server.sock") +
              " -uroot --connect-timeout=2 ping >/dev/null 2>&1") == 0) {
      return true;
    }
    if (ReadFileBytes(dir + "/server.log").find("Bind on TCP/IP port") != std::string::npos) {
      break;  // the port was taken meanwhile
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Stop();
  return false;
}

void MariaDbServer::RunAsRoot(const std::string& sql) const {
  const std::string dir = directory_.Path().string();
  if (Shell("mariadb --no-defaults --socket=" + Quoted(dir + "/server.sock") + " -uroot -e " +
            Quoted(sql) + " >" + Quoted(dir + "/client.log") + " 2>&1") != 0) {
    throw std::runtime_error("SQL failed: " + ReadFileBytes(dir + "/client.log"));
  }
}

void MariaDbServer::Stop() noexcept {
  const std::string pidFile = Quoted(directory_.Path().string() + "/server.pid");
  Shell("pid=$(cat " + pidFile +
        " 2>/dev/null) && [ -n \"$pid\" ] && kill $pid 2>/dev/null && "
        "for i in $(seq 1 100); do kill -0 $pid 2>/dev/null || exit 0; sleep 0.1; done; "
        "kill -9 $pid 2>/dev/null; exit 0");
}

MariaDbServer::~MariaDbServer() { Stop(); }

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

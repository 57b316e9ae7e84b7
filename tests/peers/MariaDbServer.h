// A real MariaDB server for the tests (tests/peers/mariadb_server.py): a fresh data
// directory in a temporary folder, its own socket, a loopback TCP port, users made for
// both 'localhost' and '%'. Under ctest the tests that use it share one server, started
// and stopped by two fixture tests; a test process run on its own starts its own.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/TempDir.h"

namespace zirvo::test {

class MariaDbServer {
 public:
  static constexpr char kUser[] = "quenzar";
  static constexpr char kPassword[] = "Sezam-42";

  // Reaches the server of the ctest run (ZIRVO_MARIADB_STATE names the file that says
  // where it is), or else starts one of this process's own: stopped with this object,
  // and within a second by the server's own watcher should the process die first; it
  // never outlives half an hour in any case. Either way makes sure the databases Quenzar
  // and Varnox and the user exist. Raises std::runtime_error with the server's log when
  // it does not come up.
  MariaDbServer() : MariaDbServer(false) {}
  // A server of this process's own even under ctest: one a test may freeze.
  struct Own {};
  explicit MariaDbServer(Own) : MariaDbServer(true) {}
  ~MariaDbServer();
  MariaDbServer(const MariaDbServer&) = delete;
  MariaDbServer& operator=(const MariaDbServer&) = delete;

  int Port() const { return port_; }
  // Runs SQL as the server's root user through its socket; raises on failure.
  void RunAsRoot(const std::string& sql) const;
  // Stops the server's process where it stands (SIGSTOP: it takes connections and
  // answers nothing) or lets it go on. Own servers only; the destructor wakes it.
  void SetFrozen(bool frozen);

 private:
  explicit MariaDbServer(bool own);
  bool frozen_ = false;
  std::optional<TempDir> own_;  // the state file of a server of this process's own
  std::string directory_;
  int port_ = 0;
};

// One server for the whole test process, reached on first use, with the user data source
// "QuenzarMySQLDB" (database Quenzar) pointing at it; stopped when the process exits
// if the process started it.
MariaDbServer& SharedMariaDb();

}  // namespace zirvo::test

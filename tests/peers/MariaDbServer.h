// A real MariaDB server for the tests: a fresh data directory in a temporary folder, its
// own socket, a loopback TCP port, users made for both 'localhost' and '%'. It stops when
// the object is destroyed and, should the test process die first, a watchdog shell stops
// it within a second; it never outlives half an hour in any case.
#pragma once

#include <memory>
#include <string>

#include "support/TempDir.h"

namespace zirvo::test {

class MariaDbServer {
 public:
  static constexpr char kUser[] = "quenzar";
  static constexpr char kPassword[] = "Sezam-42";

  // Installs and starts the server, creates the databases Quenzar and Varnox and the
  // user; raises std::runtime_error with the server's log when it does not come up.
  MariaDbServer();
  ~MariaDbServer();
  MariaDbServer(const MariaDbServer&) = delete;
  MariaDbServer& operator=(const MariaDbServer&) = delete;

  int Port() const { return port_; }
  // Runs SQL as the server's root user through its socket; raises on failure.
  void RunAsRoot(const std::string& sql) const;

 private:
  bool TryStart();
  void Stop() noexcept;

  TempDir directory_;
  int port_ = 0;
};

// One server for the whole test process, started on first use, with the user data source
// "QuenzarMySQLDB" (database Quenzar) pointing at it; stopped when the process exits.
MariaDbServer& SharedMariaDb();

}  // namespace zirvo::test

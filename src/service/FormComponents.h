// Stand-ins for the components of the service form that the database and network work
// provide. Each holds only the state at creation that the lifecycle handlers read, and
// each is to be replaced by the real component when that work lands; none of them
// claims any behaviour beyond it.
#pragma once

namespace zirvo::service {

// To be replaced by the database connection of the database access layer.
class PendingDatabaseConnection {
 public:
  // A connection that has never been opened.
  bool Connected() const { return false; }
};

// To be replaced by the query of the database access layer.
class PendingQuery {};

// To be replaced by the main-loop pump that serves the main thread during network waits.
class PendingAntiFreeze {};

// To be replaced by the local-address watcher of the connectivity check.
class PendingAddressWatcher {};

// To be replaced by the TLS handler of the HTTP client.
class PendingTlsHandler {};

// To be replaced by the HTTP client.
class PendingHttpClient {};

}  // namespace zirvo::service

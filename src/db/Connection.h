// A database connection over ODBC, set up with an OLE DB style connection string (the
// form the desktop installation and the settings know) that is translated for ODBC at
// each open.
#pragma once

#include <memory>
#include <string>

namespace zirvo::db {

class Query;
struct ConnectionCore;

// Thread contract: every operation may be called from any thread. All work on the ODBC
// connection handle, this object's and that of every Query on it, runs under one mutex
// per connection, so the service thread's state reports and the cycle's statements never
// interleave on the wire; a long statement makes the other thread wait for it.
// Connected() does not wait.
// Failure contract: operations that fail raise Exception (EOdbcError for an ODBC call,
// with every diagnostic record in its message); Close never raises.
class Connection {
 public:
  Connection();
  explicit Connection(std::u16string connectionString);
  ~Connection();  // closes
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The OLE DB style string, exactly as set (password included). Setting it while the
  // connection is open raises Exception: it takes effect at the next open only.
  std::u16string ConnectionString() const;
  void SetConnectionString(std::u16string connectionString);

  // The ODBC driver that "Provider=MSOLEDBSQL.1" stands for; empty (the default) picks
  // the best installed one for this OS (see platform/OdbcDrivers.h); "SQLite3" selects
  // the embedded default, whose Data Source is the database file. Read at each open.
  void SetSqlServerDriver(std::u16string driverName);
  std::u16string SqlServerDriver() const;
  // Whether the next open of a "Provider=MSOLEDBSQL.1" string asks for an encrypted
  // session (see TranslateToOdbc). Off unless set.
  void SetEncryption(bool encrypt);
  // The driver the next open will use for "Provider=MSOLEDBSQL.1": the one set, or the
  // best installed one. Raises Exception when ODBC cannot be initialised.
  std::u16string ChosenSqlServerDriver() const;

  // Seconds an open waits for the server before failing (15 unless set; 0 waits as long
  // as the driver does), and seconds a statement may run (30 unless set).
  void SetLoginTimeout(int seconds);
  void SetQueryTimeout(int seconds);

  bool Connected() const;
  // Opens with the current string, never asking anyone for credentials; opening an open
  // connection does nothing. Failure leaves the connection closed and raises.
  void Open();
  // Closing a closed connection does nothing.
  void Close() noexcept;
  void SetConnected(bool connected) { connected ? Open() : Close(); }

  // After an open: whether the server is SQL Server, whose reading of a number as a
  // date-time other servers are made to share (see Parameter::SetDaySerial).
  bool IsSqlServer() const;

 private:
  friend class Query;
  std::unique_ptr<ConnectionCore> core_;
};

}  // namespace zirvo::db

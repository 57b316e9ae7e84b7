// Internal to the database layer: ODBC handles as owned objects, diagnostics as errors,
// and the state a Connection shares with its queries. Includes the ODBC headers, so only
// the layer's .cpp files include it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "db/DatabaseError.h"
#include "platform/OdbcApi.h"

namespace zirvo::db {

struct EnvDeleter {
  void operator()(SQLHENV handle) const noexcept { SQLFreeHandle(SQL_HANDLE_ENV, handle); }
};
// Disconnects (a no-op error when not connected) before freeing: a handle never leaks
// its server session.
struct DbcDeleter {
  void operator()(SQLHDBC handle) const noexcept {
    SQLDisconnect(handle);
    SQLFreeHandle(SQL_HANDLE_DBC, handle);
  }
};
struct StmtDeleter {
  void operator()(SQLHSTMT handle) const noexcept { SQLFreeHandle(SQL_HANDLE_STMT, handle); }
};
using EnvHandle = std::unique_ptr<std::remove_pointer_t<SQLHENV>, EnvDeleter>;
using DbcHandle = std::unique_ptr<std::remove_pointer_t<SQLHDBC>, DbcDeleter>;
using StmtHandle = std::unique_ptr<std::remove_pointer_t<SQLHSTMT>, StmtDeleter>;

// Every diagnostic record of a handle, in order.
std::vector<OdbcDiagnostic> CollectDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// Raises EOdbcError for a failed call unless it succeeded (with or without information).
void CheckOdbc(SQLRETURN result, SQLSMALLINT handleType, SQLHANDLE handle, const char* function);

// An ODBC 3 environment.
EnvHandle NewEnvironment();
// The driver names the driver manager lists as installed.
std::vector<std::u16string> InstalledDrivers(SQLHENV environment);

inline SQLWCHAR* Wide(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }
inline std::u16string FromWide(const SQLWCHAR* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// Shared by a Connection and its queries; every member but `connected` is guarded by
// `mutex`.
struct ConnectionCore {
  std::mutex mutex;
  std::atomic<bool> connected{false};
  std::u16string connectionString;
  std::u16string sqlServerDriver;
  bool encrypt = false;
  int loginTimeout = 15;
  int queryTimeout = 30;
  bool sqlServer = false;
  // Raised at every open and close: a statement kept prepared under another value died
  // with the connection handle that owned it.
  std::uint64_t generation = 0;
  EnvHandle environment;
  DbcHandle connection;
};

}  // namespace zirvo::db

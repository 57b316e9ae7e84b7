// The error the ODBC access layer raises.
#pragma once

#include <string>
#include <vector>

#include "base/Errors.h"

namespace zirvo::db {

// One ODBC diagnostic record, text converted to narrow text.
struct OdbcDiagnostic {
  std::string sqlState;  // five characters, "08001" for example
  long nativeCode = 0;   // the server's or driver's own number; 0 when it has none
  std::string text;      // with the driver manager's "[vendor][driver]" tags kept
};

// An ODBC call that failed. The message holds every diagnostic record, in the order the
// driver gave them, each as its text followed by " (SQLSTATE xxxxx, code natif N)", the
// records separated by " | ", so one log line tells all. Without any record the message
// names the ODBC function that failed.
// Deliberately not an EDBEngineError: native codes of SQL Server, MariaDB or SQLite are
// not the engine codes the error handler classifies, and mapping them would report real
// server errors (SQL Server's 8705 or 10241, for instance) as corruption or locks.
class EOdbcError : public Exception {
 public:
  EOdbcError(std::string message, std::vector<OdbcDiagnostic> diagnostics)
      : Exception(std::move(message)), diagnostics_(std::move(diagnostics)) {}
  const std::vector<OdbcDiagnostic>& Diagnostics() const { return diagnostics_; }

 private:
  std::vector<OdbcDiagnostic> diagnostics_;
};

// The message EOdbcError carries for its records; `function` names the failing call for
// the case without records.
std::string FormatOdbcDiagnostics(const std::vector<OdbcDiagnostic>& diagnostics,
                                  const std::string& function);

}  // namespace zirvo::db

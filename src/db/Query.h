// A statement on a Connection: its text as lines, named parameters bound by the kind of
// their value, run for a result it keeps (QueryResult) or for none.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/Parameter.h"
#include "db/QueryResult.h"

namespace zirvo::db {

class Connection;
struct PreparedStatement;

// Ownership: the Connection must outlive the Query. A Query object is used by one thread
// at a time; several Query objects on one Connection may be used by different threads
// (their database work is serialised by the connection).
// Open fetches every row before it returns and then releases the ODBC statement, so the
// row count and the record number are exact and reading rows never touches the
// connection. Failure: operations raise Exception (EOdbcError from ODBC), with French
// messages for misuse (unknown parameter or field, reading without a current row).
class Query {
 public:
  explicit Query(Connection& connection);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // Statement text: lines joined by CR LF. Changing the text forgets parameter values,
  // the field restriction (KeepOnlyFields) and a prepared statement.
  void ClearLines();
  void AddLine(std::string line);
  void SetText(std::string statement);  // one line (it may hold line breaks itself)
  // Every line followed by CR LF, as the statement is sent.
  std::string Text() const;

  // The parameter of that name (ASCII case ignored); raises Exception when the text has
  // no such parameter.
  Parameter& ParamByName(std::string_view name);

  // Runs a statement that returns rows; the cursor stands on the first row. Raises when
  // the statement returns no result set or a parameter has no value. Opening an open
  // query closes it first.
  void Open();
  // Runs a statement that returns no rows; the number of rows touched is not reported.
  void Execute();
  // With keep set, Execute prepares the statement on the connection once and then only
  // binds the current values and runs it again, until keep is cleared (which frees it),
  // the text changes or the connection is closed (the driver frees the statements of a
  // closed connection; the next Execute prepares anew). A failure to prepare raises from
  // Execute like a failure to run; after any failure the next Execute prepares anew.
  // Off by default: every Execute sends the statement as a new one.
  void SetKeepPrepared(bool keep) noexcept;

  // Restricts the next Opens to the named fields (ASCII case ignored, the first of equal
  // names): the other fields are neither read from the server nor kept, and reading them
  // raises as an unknown field does. Row count and record numbers are unchanged. Empty:
  // every field, the default.
  void KeepOnlyFields(std::vector<std::string> names);
  // Releases the result; closing a closed query does nothing.
  void Close() noexcept { result_.Close(); }

  // The kept result (see QueryResult).
  bool Active() const { return result_.Active(); }
  long RecordCount() const { return result_.RecordCount(); }
  bool Eof() const { return result_.Eof(); }
  void Next() { result_.Next(); }
  long RecNo() const { return result_.RecNo(); }
  std::string FieldAsText(std::string_view name) const { return result_.FieldAsText(name); }
  long long FieldAsInteger(std::string_view name) const { return result_.FieldAsInteger(name); }
  bool FieldIsNull(std::string_view name) const { return result_.FieldIsNull(name); }

 private:
  void Reparse();
  void DropPrepared() noexcept;

  Connection& connection_;
  std::vector<std::string> lines_;
  std::vector<std::string> markerNames_;
  std::string markedText_;
  std::vector<Parameter> parameters_;
  std::vector<std::size_t> markerParameters_;  // the parameter of each marker
  std::vector<std::string> keptFields_;        // empty: every field
  bool keepPrepared_ = false;
  std::unique_ptr<PreparedStatement> prepared_;
  QueryResult result_;
};

}  // namespace zirvo::db

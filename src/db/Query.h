// A statement on a Connection: its text as lines, named parameters bound by the kind of
// their value, a buffered result read row by row, and statements without a result.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"

namespace zirvo::db {

class Connection;
struct PreparedStatement;

// The value of one named parameter. Its kind fixes the ODBC type it is bound with.
class Parameter {
 public:
  enum class Kind { Unset, Null, Boolean, DateTime, Float, DaySerial, Text, Byte };

  explicit Parameter(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  Kind ValueKind() const { return kind_; }

  void SetNull() { kind_ = Kind::Null; }
  void SetBoolean(bool value);
  void SetDateTime(const LocalDateTime& value);  // bound as a timestamp, to the millisecond
  void SetFloat(double value);                   // bound as a double everywhere
  // A date-time as its day-count serial, bound as a double on SQL Server, which reads a
  // number compared with a datetime as days since 1 January 1900; every other server
  // gets the timestamp SQL Server would have made of it (the serial's date two days
  // later), so a date window selects the same rows on every backend.
  void SetDaySerial(double serial);
  void SetText(std::string value);  // narrow text, bound as UTF-16
  void SetByte(std::uint8_t value);

  bool BooleanValue() const { return boolean_; }
  const LocalDateTime& DateTimeValue() const { return dateTime_; }
  double FloatValue() const { return number_; }
  const std::string& TextValue() const { return text_; }
  std::uint8_t ByteValue() const { return byte_; }

 private:
  std::string name_;
  Kind kind_ = Kind::Unset;
  bool boolean_ = false;
  LocalDateTime dateTime_;
  double number_ = 0;
  std::string text_;
  std::uint8_t byte_ = 0;
};

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
  void Close() noexcept;

  bool Active() const { return active_; }
  long RecordCount() const;  // rows of the open result
  bool Eof() const;          // past the last row, or closed
  void Next();               // past the end it stays there
  long RecNo() const;        // 1-based position of the current row; -1 without one

  // The current row's field of that name (ASCII case ignored, the first of equal names):
  // NULL reads as empty text, and as 0 for an integer. A text that is no integer raises
  // EConvertError.
  std::string FieldAsText(std::string_view name) const;
  long long FieldAsInteger(std::string_view name) const;
  bool FieldIsNull(std::string_view name) const;

 private:
  // One kept cell: its bytes in cellBytes_, or NULL. Eight bytes: a large result keeps
  // three of them per row.
  struct CellSpan {
    static constexpr std::uint32_t kNull = 0xFFFFFFFFu;
    std::uint32_t offset = 0;
    std::uint32_t length = kNull;
    bool IsNull() const { return length == kNull; }
  };

  const CellSpan& Cell(std::string_view name) const;
  std::string_view CellText(const CellSpan& cell) const;
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

  bool active_ = false;
  std::vector<std::string> columns_;  // the kept columns, in result order
  // The kept cells row after row. Equal neighbours in a column (the account of
  // consecutive rows) share their bytes, so a result costs what its distinct texts do.
  // In blocks, not one array: growing never holds an old and a new copy at once, which
  // would add to the peak while the driver still holds its own copy of the result.
  std::deque<CellSpan> cells_;
  std::string cellBytes_;
  std::size_t rowCount_ = 0;
  std::size_t current_ = 0;
};

}  // namespace zirvo::db

#include "db/Query.h"

#include <cstring>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "db/Connection.h"
#include "db/DateSerial.h"
#include "db/NamedParameters.h"
#include "db/OdbcCore.h"
#include "platform/CodePage.h"

namespace zirvo::db {

void Parameter::SetBoolean(bool value) {
  kind_ = Kind::Boolean;
  boolean_ = value;
}
void Parameter::SetDateTime(const LocalDateTime& value) {
  kind_ = Kind::DateTime;
  dateTime_ = value;
}
void Parameter::SetFloat(double value) {
  kind_ = Kind::Float;
  number_ = value;
}
void Parameter::SetDaySerial(double serial) {
  kind_ = Kind::DaySerial;
  number_ = serial;
}
void Parameter::SetText(std::string value) {
  kind_ = Kind::Text;
  text_ = std::move(value);
}
void Parameter::SetByte(std::uint8_t value) {
  kind_ = Kind::Byte;
  byte_ = value;
}

namespace {

// The buffers of one bound marker; they must stay put until the statement has run.
struct BoundValue {
  SQLSMALLINT valueType = SQL_C_WCHAR;
  SQLSMALLINT parameterType = SQL_WVARCHAR;
  SQLULEN columnSize = 1;
  SQLSMALLINT decimalDigits = 0;
  SQLLEN indicator = 0;
  unsigned char small = 0;
  double number = 0;
  SQL_TIMESTAMP_STRUCT timestamp{};
  std::u16string text;

  SQLPOINTER Buffer() {
    switch (valueType) {
      case SQL_C_BIT:
      case SQL_C_UTINYINT:
        return &small;
      case SQL_C_DOUBLE:
        return &number;
      case SQL_C_TYPE_TIMESTAMP:
        return &timestamp;
      default:
        return text.data();
    }
  }
};

void SetTimestamp(BoundValue& bound, const LocalDateTime& value) {
  bound.valueType = SQL_C_TYPE_TIMESTAMP;
  bound.parameterType = SQL_TYPE_TIMESTAMP;
  bound.columnSize = 23;
  bound.decimalDigits = 3;
  bound.timestamp.year = static_cast<SQLSMALLINT>(value.year);
  bound.timestamp.month = static_cast<SQLUSMALLINT>(value.month);
  bound.timestamp.day = static_cast<SQLUSMALLINT>(value.day);
  bound.timestamp.hour = static_cast<SQLUSMALLINT>(value.hour);
  bound.timestamp.minute = static_cast<SQLUSMALLINT>(value.minute);
  bound.timestamp.second = static_cast<SQLUSMALLINT>(value.second);
  bound.timestamp.fraction = static_cast<SQLUINTEGER>(value.millisecond) * 1'000'000u;
  bound.indicator = sizeof bound.timestamp;
}

BoundValue Bind(const Parameter& parameter, bool sqlServer) {
  BoundValue bound;
  switch (parameter.ValueKind()) {
    case Parameter::Kind::Unset:
      throw Exception("Le paramètre « " + parameter.Name() + " » n'a pas de valeur");
    case Parameter::Kind::Null:
      bound.text = u" ";
      bound.indicator = SQL_NULL_DATA;
      break;
    case Parameter::Kind::Boolean:
      bound.valueType = SQL_C_BIT;
      bound.parameterType = SQL_BIT;
      bound.small = parameter.BooleanValue() ? 1 : 0;
      bound.indicator = 1;
      break;
    case Parameter::Kind::Byte:
      bound.valueType = SQL_C_UTINYINT;
      bound.parameterType = SQL_TINYINT;
      bound.columnSize = 3;
      bound.small = parameter.ByteValue();
      bound.indicator = 1;
      break;
    case Parameter::Kind::Float:
      bound.valueType = SQL_C_DOUBLE;
      bound.parameterType = SQL_DOUBLE;
      bound.columnSize = 15;
      bound.number = parameter.FloatValue();
      bound.indicator = sizeof bound.number;
      break;
    case Parameter::Kind::DaySerial:
      if (sqlServer) {
        bound.valueType = SQL_C_DOUBLE;
        bound.parameterType = SQL_DOUBLE;
        bound.columnSize = 15;
        bound.number = parameter.FloatValue();
        bound.indicator = sizeof bound.number;
      } else {
        SetTimestamp(bound, SerialToDateTime(parameter.FloatValue() + kSqlServerNumberEpochShift));
      }
      break;
    case Parameter::Kind::DateTime:
      SetTimestamp(bound, parameter.DateTimeValue());
      break;
    case Parameter::Kind::Text: {
      bound.text = platform::AnsiToWide(parameter.TextValue());
      const std::size_t length = bound.text.size();
      // Long texts go as long data: servers refuse a plain wide varchar above 4000.
      bound.parameterType = length > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
      bound.columnSize = length == 0 ? 1 : length;
      bound.indicator = static_cast<SQLLEN>(length * sizeof(char16_t));
      if (bound.text.empty()) bound.text = u" ";  // a valid buffer for the empty text
      break;
    }
  }
  return bound;
}

StmtHandle NewStatement(ConnectionCore& core) {
  if (!core.connected || !core.connection) {
    throw Exception("La connexion à la base de données n'est pas ouverte");
  }
  SQLHSTMT raw = SQL_NULL_HSTMT;
  CheckOdbc(SQLAllocHandle(SQL_HANDLE_STMT, core.connection.get(), &raw), SQL_HANDLE_DBC,
            core.connection.get(), "SQLAllocHandle");
  StmtHandle statement(raw);
  // Not every driver bounds statements; those that cannot simply run without a limit.
  SQLSetStmtAttrW(raw, SQL_ATTR_QUERY_TIMEOUT,
                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(core.queryTimeout)), 0);
  return statement;
}

// Runs the marked statement with its values bound; the bound buffers live until return.
SQLRETURN Run(SQLHSTMT statement, const std::string& markedText,
              const std::vector<std::string>& markerNames, std::vector<Parameter>& parameters,
              bool sqlServer) {
  std::vector<BoundValue> bound;
  bound.reserve(markerNames.size());
  for (const auto& name : markerNames) {
    const Parameter* parameter = nullptr;
    for (const auto& candidate : parameters) {
      if (SameText(candidate.Name(), name)) parameter = &candidate;
    }
    bound.push_back(Bind(*parameter, sqlServer));
  }
  for (std::size_t i = 0; i < bound.size(); ++i) {
    BoundValue& value = bound[i];
    const SQLLEN bufferLength = value.valueType == SQL_C_WCHAR
                                    ? static_cast<SQLLEN>(value.text.size() * sizeof(char16_t))
                                    : 0;
    CheckOdbc(SQLBindParameter(statement, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                               value.valueType, value.parameterType, value.columnSize,
                               value.decimalDigits, value.Buffer(), bufferLength, &value.indicator),
              SQL_HANDLE_STMT, statement, "SQLBindParameter");
  }
  std::u16string text = platform::AnsiToWide(markedText);
  const SQLRETURN result = SQLExecDirectW(statement, Wide(text), SQL_NTS);
  if (result != SQL_NO_DATA) CheckOdbc(result, SQL_HANDLE_STMT, statement, "SQLExecDirectW");
  return result;
}

std::optional<std::string> ReadCell(SQLHSTMT statement, SQLUSMALLINT column) {
  std::u16string value;
  std::vector<SQLWCHAR> chunk(2048);
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN result =
        SQLGetData(statement, column, SQL_C_WCHAR, chunk.data(),
                   static_cast<SQLLEN>(chunk.size() * sizeof(SQLWCHAR)), &indicator);
    if (result == SQL_NO_DATA) break;
    CheckOdbc(result, SQL_HANDLE_STMT, statement, "SQLGetData");
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    // A full chunk (truncated, 01004) leaves room for the terminator only; anything less
    // is the rest of the value.
    std::size_t got = chunk.size() - 1;
    if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) < got) {
      got = static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
    }
    value += FromWide(chunk.data(), got);
    if (result == SQL_SUCCESS) break;
  }
  return platform::WideToAnsi(value);
}

}  // namespace

void Query::ClearLines() {
  lines_.clear();
  Reparse();
}

void Query::AddLine(std::string line) {
  lines_.push_back(std::move(line));
  Reparse();
}

void Query::SetText(std::string statement) {
  lines_.assign(1, std::move(statement));
  Reparse();
}

std::string Query::Text() const {
  std::string text;
  for (const auto& line : lines_) text += line + "\r\n";
  return text;
}

void Query::Reparse() {
  MarkedStatement marked = MarkParameters(Text());
  markedText_ = std::move(marked.text);
  markerNames_ = std::move(marked.names);
  parameters_.clear();
  for (const auto& name : markerNames_) {
    bool known = false;
    for (const auto& parameter : parameters_) known = known || SameText(parameter.Name(), name);
    if (!known) parameters_.emplace_back(name);
  }
}

Parameter& Query::ParamByName(std::string_view name) {
  for (auto& parameter : parameters_) {
    if (SameText(parameter.Name(), name)) return parameter;
  }
  throw Exception("Paramètre « " + std::string(name) + " » introuvable dans la requête");
}

void Query::Open() {
  Close();
  ConnectionCore& core = *connection_.core_;
  std::vector<std::string> columns;
  std::vector<std::optional<std::string>> cells;
  std::size_t rows = 0;
  {
    std::lock_guard lock(core.mutex);
    StmtHandle statement = NewStatement(core);
    SQLRETURN result = Run(statement.get(), markedText_, markerNames_, parameters_, core.sqlServer);
    SQLSMALLINT columnCount = 0;
    // Row counts of earlier statements of a batch come first on some servers: the rows
    // are in the first result that has columns.
    while (result != SQL_NO_DATA) {
      CheckOdbc(SQLNumResultCols(statement.get(), &columnCount), SQL_HANDLE_STMT, statement.get(),
                "SQLNumResultCols");
      if (columnCount > 0) break;
      result = SQLMoreResults(statement.get());
      if (result != SQL_NO_DATA)
        CheckOdbc(result, SQL_HANDLE_STMT, statement.get(), "SQLMoreResults");
    }
    if (columnCount <= 0) throw Exception("La requête ne renvoie aucun enregistrement");
    for (SQLUSMALLINT column = 1; column <= columnCount; ++column) {
      SQLWCHAR name[256] = {};
      SQLSMALLINT nameLength = 0;
      SQLSMALLINT dataType = 0;
      SQLULEN size = 0;
      SQLSMALLINT digits = 0;
      SQLSMALLINT nullable = 0;
      CheckOdbc(SQLDescribeColW(statement.get(), column, name, 256, &nameLength, &dataType, &size,
                                &digits, &nullable),
                SQL_HANDLE_STMT, statement.get(), "SQLDescribeColW");
      columns.push_back(platform::WideToAnsi(FromWide(
          name, std::min<std::size_t>(
                    static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)), 255))));
    }
    for (;;) {
      result = SQLFetch(statement.get());
      if (result == SQL_NO_DATA) break;
      CheckOdbc(result, SQL_HANDLE_STMT, statement.get(), "SQLFetch");
      for (SQLUSMALLINT column = 1; column <= columnCount; ++column) {
        cells.push_back(ReadCell(statement.get(), column));
      }
      ++rows;
    }
  }
  columns_ = std::move(columns);
  cells_ = std::move(cells);
  rowCount_ = rows;
  current_ = 0;
  active_ = true;
}

void Query::Execute() {
  ConnectionCore& core = *connection_.core_;
  std::lock_guard lock(core.mutex);
  StmtHandle statement = NewStatement(core);
  SQLRETURN result = Run(statement.get(), markedText_, markerNames_, parameters_, core.sqlServer);
  // A failure in a later part of a batch is only reported while its results are read.
  while (result != SQL_NO_DATA) {
    result = SQLMoreResults(statement.get());
    if (result != SQL_NO_DATA)
      CheckOdbc(result, SQL_HANDLE_STMT, statement.get(), "SQLMoreResults");
  }
}

void Query::Close() noexcept {
  active_ = false;
  columns_.clear();
  cells_.clear();
  rowCount_ = 0;
  current_ = 0;
}

long Query::RecordCount() const {
  if (!active_) throw Exception("La requête n'est pas ouverte");
  return static_cast<long>(rowCount_);
}

bool Query::Eof() const { return !active_ || current_ >= rowCount_; }

void Query::Next() {
  if (active_ && current_ < rowCount_) ++current_;
}

long Query::RecNo() const { return Eof() ? -1 : static_cast<long>(current_ + 1); }

const std::optional<std::string>& Query::Cell(std::string_view name) const {
  if (!active_) throw Exception("La requête n'est pas ouverte");
  for (std::size_t column = 0; column < columns_.size(); ++column) {
    if (SameText(columns_[column], name)) {
      if (current_ >= rowCount_) {
        throw Exception("Lecture du champ « " + std::string(name) +
                        " » après le dernier enregistrement");
      }
      return cells_[current_ * columns_.size() + column];
    }
  }
  throw Exception("Champ « " + std::string(name) + " » introuvable");
}

std::string Query::FieldAsText(std::string_view name) const {
  const auto& cell = Cell(name);
  return cell ? *cell : std::string();
}

bool Query::FieldIsNull(std::string_view name) const { return !Cell(name).has_value(); }

long long Query::FieldAsInteger(std::string_view name) const {
  const auto& cell = Cell(name);
  if (!cell) return 0;
  const std::string text(TrimBlanks(*cell));
  long long value = 0;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) throw EConvertError("« " + *cell + " » n'est pas un entier valide");
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9' || value > 922'337'203'685'477'579LL) {
      throw EConvertError("« " + *cell + " » n'est pas un entier valide");
    }
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

}  // namespace zirvo::db

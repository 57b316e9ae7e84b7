#include "db/Query.h"

#include <algorithm>
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

// Every ANSI code page, like UTF-8, writes ASCII as itself: the common all-ASCII text
// (a message id) is widened without the general conversion.
std::u16string NarrowToWide(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return platform::AnsiToWide(text);
  }
  return std::u16string(text.begin(), text.end());
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
      bound.text = NarrowToWide(parameter.TextValue());
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

bool SameBinding(const BoundValue& a, const BoundValue& b) {
  return a.valueType == b.valueType && a.parameterType == b.parameterType &&
         a.columnSize == b.columnSize && a.decimalDigits == b.decimalDigits &&
         a.text.size() == b.text.size();
}

void BindOne(SQLHSTMT statement, std::size_t marker, BoundValue& value) {
  const SQLLEN bufferLength = value.valueType == SQL_C_WCHAR
                                  ? static_cast<SQLLEN>(value.text.size() * sizeof(char16_t))
                                  : 0;
  CheckOdbc(SQLBindParameter(statement, static_cast<SQLUSMALLINT>(marker + 1), SQL_PARAM_INPUT,
                             value.valueType, value.parameterType, value.columnSize,
                             value.decimalDigits, value.Buffer(), bufferLength, &value.indicator),
            SQL_HANDLE_STMT, statement, "SQLBindParameter");
}

// Binds every marker to the value of its parameter into `bound`, whose buffers must stay
// put until the statement has run. A marker already bound with the same type and size
// only gets its new value written into the bound buffers: the driver reads them at each
// execution, so a statement kept prepared is not rebound for every row.
void BindMarkers(SQLHSTMT statement, const std::vector<std::size_t>& markerParameters,
                 const std::vector<Parameter>& parameters, bool sqlServer,
                 std::vector<BoundValue>& bound) {
  const bool fresh = bound.size() != markerParameters.size();
  if (fresh) bound.assign(markerParameters.size(), BoundValue{});
  for (std::size_t i = 0; i < markerParameters.size(); ++i) {
    BoundValue value = Bind(parameters[markerParameters[i]], sqlServer);
    BoundValue& kept = bound[i];
    if (!fresh && SameBinding(kept, value)) {
      kept.indicator = value.indicator;
      kept.small = value.small;
      kept.number = value.number;
      kept.timestamp = value.timestamp;
      std::copy(value.text.begin(), value.text.end(), kept.text.begin());
      continue;
    }
    kept = std::move(value);
    BindOne(statement, i, kept);
  }
}

// Runs the marked statement with its values bound; the bound buffers live until return.
SQLRETURN Run(SQLHSTMT statement, const std::string& markedText,
              const std::vector<std::size_t>& markerParameters,
              const std::vector<Parameter>& parameters, bool sqlServer) {
  std::vector<BoundValue> bound;
  BindMarkers(statement, markerParameters, parameters, sqlServer, bound);
  std::u16string text = platform::AnsiToWide(markedText);
  const SQLRETURN result = SQLExecDirectW(statement, Wide(text), SQL_NTS);
  if (result != SQL_NO_DATA) CheckOdbc(result, SQL_HANDLE_STMT, statement, "SQLExecDirectW");
  return result;
}

// A failure in a later part of a batch is only reported while its results are read.
void DrainResults(SQLHSTMT statement, SQLRETURN result) {
  while (result != SQL_NO_DATA) {
    result = SQLMoreResults(statement);
    if (result != SQL_NO_DATA) CheckOdbc(result, SQL_HANDLE_STMT, statement, "SQLMoreResults");
  }
}

// Appends UTF-16 text as narrow text; the all-ASCII cell is copied as it is (see
// NarrowToWide).
void AppendNarrow(std::string& out, std::u16string_view text) {
  for (const char16_t c : text) {
    if (c >= 0x80) {
      out += platform::WideToAnsi(text);
      return;
    }
  }
  const std::size_t start = out.size();
  out.resize(start + text.size());
  for (std::size_t i = 0; i < text.size(); ++i) out[start + i] = static_cast<char>(text[i]);
}

// Reads one cell as narrow text into `out` (replaced); false for NULL. `wide` and `chunk`
// are the caller's buffers, reused from cell to cell.
bool ReadCell(SQLHSTMT statement, SQLUSMALLINT column, std::vector<SQLWCHAR>& chunk,
              std::u16string& wide, std::string& out) {
  wide.clear();
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN result =
        SQLGetData(statement, column, SQL_C_WCHAR, chunk.data(),
                   static_cast<SQLLEN>(chunk.size() * sizeof(SQLWCHAR)), &indicator);
    if (result == SQL_NO_DATA) break;
    CheckOdbc(result, SQL_HANDLE_STMT, statement, "SQLGetData");
    if (indicator == SQL_NULL_DATA) return false;
    // A full chunk (truncated, 01004) leaves room for the terminator only; anything less
    // is the rest of the value.
    std::size_t got = chunk.size() - 1;
    if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) < got) {
      got = static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
    }
    wide.append(reinterpret_cast<const char16_t*>(chunk.data()), got);
    if (result == SQL_SUCCESS) break;
  }
  out.clear();
  AppendNarrow(out, wide);
  return true;
}

}  // namespace

// A statement kept prepared, valid while its connection keeps the generation it was
// prepared under.
struct PreparedStatement {
  std::vector<BoundValue> bound;  // declared first: the statement is freed before its buffers
  StmtHandle statement;
  std::uint64_t generation = 0;
};

Query::Query(Connection& connection) : connection_(connection) {}

Query::~Query() { DropPrepared(); }

void Query::DropPrepared() noexcept {
  if (!prepared_) return;
  ConnectionCore& core = *connection_.core_;
  std::lock_guard lock(core.mutex);
  // A closed or reopened connection has freed the statement with its handle.
  if (prepared_->generation != core.generation) prepared_->statement.release();
  prepared_.reset();
}

void Query::SetKeepPrepared(bool keep) noexcept {
  keepPrepared_ = keep;
  if (!keep) DropPrepared();
}

void Query::KeepOnlyFields(std::vector<std::string> names) { keptFields_ = std::move(names); }

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
  DropPrepared();
  keptFields_.clear();
  MarkedStatement marked = MarkParameters(Text());
  markedText_ = std::move(marked.text);
  markerNames_ = std::move(marked.names);
  parameters_.clear();
  markerParameters_.clear();
  for (const auto& name : markerNames_) {
    std::size_t index = 0;
    while (index < parameters_.size() && !SameText(parameters_[index].Name(), name)) ++index;
    if (index == parameters_.size()) parameters_.emplace_back(name);
    markerParameters_.push_back(index);
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
  std::deque<CellSpan> cells;
  std::string bytes;
  std::size_t rows = 0;
  {
    std::lock_guard lock(core.mutex);
    StmtHandle statement = NewStatement(core);
    SQLRETURN result =
        Run(statement.get(), markedText_, markerParameters_, parameters_, core.sqlServer);
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
    std::vector<SQLUSMALLINT> kept;  // result columns read, in increasing order
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
      std::string columnName = platform::WideToAnsi(
          FromWide(name, std::min<std::size_t>(
                             static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)), 255)));
      bool keep = keptFields_.empty();
      for (const auto& field : keptFields_) keep = keep || SameText(field, columnName);
      // Only the first of equal names can be read, so a later one is not kept.
      for (const auto& earlier : columns) keep = keep && !SameText(earlier, columnName);
      if (!keep) continue;
      columns.push_back(std::move(columnName));
      kept.push_back(column);
    }
    std::vector<SQLWCHAR> chunk(2048);
    std::u16string wide;
    std::string text;
    for (;;) {
      result = SQLFetch(statement.get());
      if (result == SQL_NO_DATA) break;
      CheckOdbc(result, SQL_HANDLE_STMT, statement.get(), "SQLFetch");
      for (std::size_t i = 0; i < kept.size(); ++i) {
        CellSpan cell;
        if (ReadCell(statement.get(), kept[i], chunk, wide, text)) {
          const CellSpan* above = rows > 0 ? &cells[cells.size() - kept.size()] : nullptr;
          if (above && !above->IsNull() &&
              std::string_view(bytes).substr(above->offset, above->length) == text) {
            cell = *above;
          } else {
            if (bytes.size() + text.size() >= CellSpan::kNull) {
              throw Exception("Résultat de requête trop volumineux pour être gardé en mémoire");
            }
            cell.offset = static_cast<std::uint32_t>(bytes.size());
            cell.length = static_cast<std::uint32_t>(text.size());
            bytes += text;
          }
        }
        cells.push_back(cell);
      }
      ++rows;
    }
  }
  bytes.shrink_to_fit();
  columns_ = std::move(columns);
  cells_ = std::move(cells);
  cellBytes_ = std::move(bytes);
  rowCount_ = rows;
  current_ = 0;
  active_ = true;
}

void Query::Execute() {
  ConnectionCore& core = *connection_.core_;
  std::lock_guard lock(core.mutex);
  if (!keepPrepared_) {
    StmtHandle statement = NewStatement(core);
    DrainResults(statement.get(),
                 Run(statement.get(), markedText_, markerParameters_, parameters_, core.sqlServer));
    return;
  }
  if (prepared_ && prepared_->generation != core.generation) {
    prepared_->statement.release();  // freed with the connection handle that owned it
    prepared_.reset();
  }
  try {
    if (!prepared_) {
      auto prepared = std::make_unique<PreparedStatement>();
      prepared->statement = NewStatement(core);
      std::u16string text = platform::AnsiToWide(markedText_);
      CheckOdbc(SQLPrepareW(prepared->statement.get(), Wide(text), SQL_NTS), SQL_HANDLE_STMT,
                prepared->statement.get(), "SQLPrepareW");
      prepared->generation = core.generation;
      prepared_ = std::move(prepared);
    }
    SQLHSTMT statement = prepared_->statement.get();
    BindMarkers(statement, markerParameters_, parameters_, core.sqlServer, prepared_->bound);
    const SQLRETURN result = SQLExecute(statement);
    if (result != SQL_NO_DATA) CheckOdbc(result, SQL_HANDLE_STMT, statement, "SQLExecute");
    DrainResults(statement, result);
  } catch (...) {
    // What state a failed statement is left in is the driver's affair: start afresh.
    prepared_.reset();
    throw;
  }
}

void Query::Close() noexcept {
  active_ = false;
  columns_.clear();
  cells_ = {};
  cellBytes_.clear();
  cellBytes_.shrink_to_fit();
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

const Query::CellSpan& Query::Cell(std::string_view name) const {
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

std::string_view Query::CellText(const CellSpan& cell) const {
  if (cell.IsNull()) return {};
  return std::string_view(cellBytes_).substr(cell.offset, cell.length);
}

std::string Query::FieldAsText(std::string_view name) const {
  return std::string(CellText(Cell(name)));
}

bool Query::FieldIsNull(std::string_view name) const { return Cell(name).IsNull(); }

long long Query::FieldAsInteger(std::string_view name) const {
  const CellSpan& span = Cell(name);
  if (span.IsNull()) return 0;
  const std::string cell(CellText(span));
  const std::string text(TrimBlanks(cell));
  long long value = 0;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) throw EConvertError("« " + cell + " » n'est pas un entier valide");
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9' || value > 922'337'203'685'477'579LL) {
      throw EConvertError("« " + cell + " » n'est pas un entier valide");
    }
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

}  // namespace zirvo::db

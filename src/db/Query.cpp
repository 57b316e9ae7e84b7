#include "db/Query.h"

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "db/Connection.h"
#include "db/NamedParameters.h"
#include "db/OdbcCore.h"
#include "db/ParameterBinding.h"
#include "db/ResultReading.h"
#include "platform/CodePage.h"

namespace zirvo::db {

namespace {

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
  if (prepared_->generation != core.generation) {
    static_cast<void>(prepared_->statement.release());
  }
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
  lines_.clear();
  lines_.push_back(std::move(statement));
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
  QueryResult result;
  {
    std::lock_guard lock(core.mutex);
    StmtHandle statement = NewStatement(core);
    SQLRETURN outcome =
        Run(statement.get(), markedText_, markerParameters_, parameters_, core.sqlServer);
    SQLSMALLINT columnCount = 0;
    // Row counts of earlier statements of a batch come first on some servers: the rows
    // are in the first result that has columns.
    while (outcome != SQL_NO_DATA) {
      CheckOdbc(SQLNumResultCols(statement.get(), &columnCount), SQL_HANDLE_STMT, statement.get(),
                "SQLNumResultCols");
      if (columnCount > 0) break;
      outcome = SQLMoreResults(statement.get());
      if (outcome != SQL_NO_DATA)
        CheckOdbc(outcome, SQL_HANDLE_STMT, statement.get(), "SQLMoreResults");
    }
    if (columnCount <= 0) throw Exception("La requête ne renvoie aucun enregistrement");
    ReadResult(statement.get(), columnCount, keptFields_, result);
  }
  result.Complete();
  result_ = std::move(result);
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
    // Freed with the connection handle that owned it.
    static_cast<void>(prepared_->statement.release());
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

}  // namespace zirvo::db

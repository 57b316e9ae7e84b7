#include "db/ResultReading.h"

#include <algorithm>

#include "base/StringUtils.h"
#include "platform/CodePage.h"

namespace zirvo::db {

namespace {

// Appends UTF-16 text as narrow text. Every ANSI code page, like UTF-8, writes ASCII
// as itself: the common all-ASCII cell is copied as it is.
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

void ReadResult(SQLHSTMT statement, SQLSMALLINT columnCount,
                const std::vector<std::string>& keptFields, QueryResult& result) {
  std::vector<std::string> columns;
  std::vector<SQLUSMALLINT> kept;  // result columns read, in increasing order
  for (SQLUSMALLINT column = 1; column <= columnCount; ++column) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT dataType = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    CheckOdbc(SQLDescribeColW(statement, column, name, 256, &nameLength, &dataType, &size, &digits,
                              &nullable),
              SQL_HANDLE_STMT, statement, "SQLDescribeColW");
    std::string columnName = platform::WideToAnsi(
        FromWide(name, std::min<std::size_t>(
                           static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)), 255)));
    bool keep = keptFields.empty();
    for (const auto& field : keptFields) keep = keep || SameText(field, columnName);
    // Only the first of equal names can be read, so a later one is not kept.
    for (const auto& earlier : columns) keep = keep && !SameText(earlier, columnName);
    if (!keep) continue;
    columns.push_back(std::move(columnName));
    kept.push_back(column);
  }
  result.SetColumns(std::move(columns));
  std::vector<SQLWCHAR> chunk(2048);
  std::u16string wide;
  std::string text;
  for (;;) {
    const SQLRETURN fetched = SQLFetch(statement);
    if (fetched == SQL_NO_DATA) break;
    CheckOdbc(fetched, SQL_HANDLE_STMT, statement, "SQLFetch");
    for (const SQLUSMALLINT column : kept) {
      if (ReadCell(statement, column, chunk, wide, text)) {
        result.AddCell(text);
      } else {
        result.AddNullCell();
      }
    }
    result.EndRow();
  }
}

}  // namespace zirvo::db

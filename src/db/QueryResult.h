// The result an opened query keeps: its rows held in memory, a cursor over them, and the
// fields of the current row read by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace zirvo::db {

// Closed until Complete: then Eof, and reading raises. Failure: Exception with French
// messages for misuse (unknown field, reading without a current row, a closed result).
class QueryResult {
 public:
  // Building, by the reading of a result: the kept columns, then their cells row after
  // row, then Complete, which opens it on its first row.
  void SetColumns(std::vector<std::string> columns) { columns_ = std::move(columns); }
  // Raises Exception when the kept texts would exceed what a cell can address.
  void AddCell(std::string_view text);
  void AddNullCell() { cells_.emplace_back(); }
  void EndRow() { ++rowCount_; }
  void Complete();
  // Releases the rows; closing a closed result does nothing.
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

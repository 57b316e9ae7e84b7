#include "db/QueryResult.h"

#include "base/Errors.h"
#include "base/StringUtils.h"

namespace zirvo::db {

void QueryResult::AddCell(std::string_view text) {
  CellSpan cell;
  const CellSpan* above = rowCount_ > 0 ? &cells_[cells_.size() - columns_.size()] : nullptr;
  if (above && !above->IsNull() &&
      std::string_view(cellBytes_).substr(above->offset, above->length) == text) {
    cell = *above;
  } else {
    if (cellBytes_.size() + text.size() >= CellSpan::kNull) {
      throw Exception("Résultat de requête trop volumineux pour être gardé en mémoire");
    }
    cell.offset = static_cast<std::uint32_t>(cellBytes_.size());
    cell.length = static_cast<std::uint32_t>(text.size());
    cellBytes_ += text;
  }
  cells_.push_back(cell);
}

void QueryResult::Complete() {
  cellBytes_.shrink_to_fit();
  current_ = 0;
  active_ = true;
}

void QueryResult::Close() noexcept {
  active_ = false;
  columns_.clear();
  cells_ = {};
  cellBytes_.clear();
  cellBytes_.shrink_to_fit();
  rowCount_ = 0;
  current_ = 0;
}

long QueryResult::RecordCount() const {
  if (!active_) throw Exception("La requête n'est pas ouverte");
  return static_cast<long>(rowCount_);
}

bool QueryResult::Eof() const { return !active_ || current_ >= rowCount_; }

void QueryResult::Next() {
  if (active_ && current_ < rowCount_) ++current_;
}

long QueryResult::RecNo() const { return Eof() ? -1 : static_cast<long>(current_ + 1); }

const QueryResult::CellSpan& QueryResult::Cell(std::string_view name) const {
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

std::string_view QueryResult::CellText(const CellSpan& cell) const {
  if (cell.IsNull()) return {};
  return std::string_view(cellBytes_).substr(cell.offset, cell.length);
}

std::string QueryResult::FieldAsText(std::string_view name) const {
  return std::string(CellText(Cell(name)));
}

bool QueryResult::FieldIsNull(std::string_view name) const { return Cell(name).IsNull(); }

long long QueryResult::FieldAsInteger(std::string_view name) const {
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

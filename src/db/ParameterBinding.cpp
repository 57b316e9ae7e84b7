#include "db/ParameterBinding.h"

#include <algorithm>

#include "base/Errors.h"
#include "db/DateSerial.h"
#include "platform/CodePage.h"

namespace zirvo::db {

namespace {

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
    case Parameter::Kind::DaySerial:
      // SQL Server reads the number as days itself; other servers get its timestamp.
      if (!sqlServer) {
        SetTimestamp(bound, SerialToDateTime(parameter.FloatValue() + kSqlServerNumberEpochShift));
        break;
      }
      [[fallthrough]];
    case Parameter::Kind::Float:
      bound.valueType = SQL_C_DOUBLE;
      bound.parameterType = SQL_DOUBLE;
      bound.columnSize = 15;
      bound.number = parameter.FloatValue();
      bound.indicator = sizeof bound.number;
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

}  // namespace

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

}  // namespace zirvo::db

// The values of a statement's parameters bound to its markers through ODBC.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "db/OdbcCore.h"
#include "db/Parameter.h"

namespace zirvo::db {

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

// Binds every marker to the value of its parameter into `bound`, whose buffers must stay
// put until the statement has run. A marker already bound with the same type and size
// only gets its new value written into the bound buffers: the driver reads them at each
// execution, so a statement kept prepared is not rebound for every row. Raises Exception
// for a parameter without a value.
void BindMarkers(SQLHSTMT statement, const std::vector<std::size_t>& markerParameters,
                 const std::vector<Parameter>& parameters, bool sqlServer,
                 std::vector<BoundValue>& bound);

}  // namespace zirvo::db

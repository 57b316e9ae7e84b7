// The rows of an ODBC result read into a kept result.
#pragma once

#include <string>
#include <vector>

#include "db/OdbcCore.h"
#include "db/QueryResult.h"

namespace zirvo::db {

// Reads every row of the statement's current result, which has columnCount columns,
// into `result`: only the columns named in keptFields (ASCII case ignored; empty: every
// column), and of equal names only the first. Raises EOdbcError from ODBC, Exception for a
// result too large to keep.
void ReadResult(SQLHSTMT statement, SQLSMALLINT columnCount,
                const std::vector<std::string>& keptFields, QueryResult& result);

}  // namespace zirvo::db

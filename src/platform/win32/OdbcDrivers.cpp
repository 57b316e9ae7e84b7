#include "platform/OdbcDrivers.h"

namespace zirvo::platform {

std::vector<std::u16string> SqlServerDriverCandidates() {
  return {u"ODBC Driver 18 for SQL Server", u"ODBC Driver 17 for SQL Server", u"SQL Server"};
}

}  // namespace zirvo::platform

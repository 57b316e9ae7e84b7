// Which ODBC driver reaches SQL Server on this OS when the settings name none.
#pragma once

#include <string>
#include <vector>

namespace zirvo::platform {

// Driver names to try for SQL Server, best first. The database layer takes the first one
// the driver manager lists as installed and, when none is, the last of them.
// Windows: "ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server", "SQL Server"
// (the last one ships with every Windows). Linux: "FreeTDS". Any thread.
std::vector<std::u16string> SqlServerDriverCandidates();

}  // namespace zirvo::platform

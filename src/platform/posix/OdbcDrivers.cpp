#include "platform/OdbcDrivers.h"

namespace zirvo::platform {

std::vector<std::u16string> SqlServerDriverCandidates() { return {u"FreeTDS"}; }

}  // namespace zirvo::platform

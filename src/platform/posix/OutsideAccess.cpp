// Placeholder until the permission-bit judgement of this system joins: nothing is claimed.
#include "platform/OutsideAccess.h"

namespace zirvo::platform {

OutsideAccess QueryOutsideAccess(const std::string&, const std::string&) { return {}; }

}  // namespace zirvo::platform

// Placeholder so that the Windows build links while the access-list reading is written
// on its own branch; it claims nothing either way. Replaced by the real reading of the
// path's security descriptor when both meet.
#include "platform/OutsideAccess.h"

namespace zirvo::platform {

OutsideAccess QueryOutsideAccess(const std::string&, const std::string&) { return {}; }

}  // namespace zirvo::platform

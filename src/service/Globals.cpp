#include "service/Globals.h"

namespace zirvo::service {

std::atomic<bool> DebugMode{false};

}  // namespace zirvo::service

#include "service/Globals.h"

namespace zirvo::service {

std::atomic<bool> DebugMode{false};
TServiceSettings ServiceSettings;
std::string RemoteAccessURL;

}  // namespace zirvo::service

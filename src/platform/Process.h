// Facts about the running process.
#pragma once

#include <string>

namespace zirvo::platform {

// Full path of the running executable.
std::string ExecutablePath();

}  // namespace zirvo::platform

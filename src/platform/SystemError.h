// System error codes and their texts.
#pragma once

#include <cstdint>
#include <string>

namespace zirvo::platform {

// The code of the last failed system call of this thread (errno, GetLastError).
std::uint32_t LastSystemError();

// The system's text for an error code, without trailing blanks, line ends or full stop.
std::string SystemErrorText(std::uint32_t code);

}  // namespace zirvo::platform

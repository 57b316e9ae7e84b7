// System error codes and their texts.
#pragma once

#include <cstdint>
#include <string>

#include "base/Errors.h"

namespace zirvo::platform {

// The code of the last failed system call of this thread (errno, GetLastError).
std::uint32_t LastSystemError();

// The system's text for an error code, without trailing blanks, line ends or full stop.
// Linux: in the LC_MESSAGES locale of the environment, French under the C locale where
// a French locale is installed.
std::string SystemErrorText(std::uint32_t code);

}  // namespace zirvo::platform

namespace zirvo {

// An operating-system call that failed. The message is "System Error.  Code: N." followed
// by CR LF and the system's own text for the code.
class EOSError : public Exception {
 public:
  explicit EOSError(std::uint32_t errorCode);
  std::uint32_t ErrorCode() const { return errorCode_; }

 private:
  std::uint32_t errorCode_;
};

// Formats the message EOSError carries for a code; shared with the places that report a
// system error without raising it.
std::string OSErrorMessage(std::uint32_t errorCode);

}  // namespace zirvo

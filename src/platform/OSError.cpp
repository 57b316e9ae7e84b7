#include "platform/SystemError.h"

namespace zirvo {

std::string OSErrorMessage(std::uint32_t errorCode) {
  return "System Error.  Code: " + std::to_string(errorCode) + ".\r\n" +
         platform::SystemErrorText(errorCode);
}

EOSError::EOSError(std::uint32_t errorCode)
    : Exception(OSErrorMessage(errorCode)), errorCode_(errorCode) {}

}  // namespace zirvo

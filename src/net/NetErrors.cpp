#include "net/NetErrors.h"

#include "platform/SystemError.h"

namespace zirvo::net {

ESocketError::ESocketError(std::uint32_t code)
    : Exception("Socket Error # " + std::to_string(code) + "\r\n" +
                platform::SystemErrorText(code)),
      code_(code) {}

}  // namespace zirvo::net

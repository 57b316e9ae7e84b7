// Failures of the network layer that are not HTTP replies.
#pragma once

#include <cstdint>
#include <string>

#include "base/Errors.h"

namespace zirvo::net {

// A socket call that failed. The message is "Socket Error # " + code + CR LF + the
// system's text for the code.
class ESocketError : public Exception {
 public:
  explicit ESocketError(std::uint32_t code);
  std::uint32_t Code() const { return code_; }

 private:
  std::uint32_t code_;
};

}  // namespace zirvo::net

#include "base/Errors.h"

#include "platform/SystemError.h"

namespace zirvo {

namespace {
std::string FirstMessage(const std::vector<DBEngineErrorEntry>& entries) {
  return entries.empty() ? std::string() : entries.front().message;
}
}  // namespace

EDBEngineError::EDBEngineError(std::vector<DBEngineErrorEntry> entries)
    : Exception(FirstMessage(entries)), entries_(std::move(entries)) {}

std::string OSErrorMessage(std::uint32_t errorCode) {
  return "System Error.  Code: " + std::to_string(errorCode) + ".\r\n" +
         platform::SystemErrorText(errorCode);
}

EOSError::EOSError(std::uint32_t errorCode)
    : Exception(OSErrorMessage(errorCode)), errorCode_(errorCode) {}

}  // namespace zirvo

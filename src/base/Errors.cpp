#include "base/Errors.h"

namespace zirvo {

namespace {
std::string FirstMessage(const std::vector<DBEngineErrorEntry>& entries) {
  return entries.empty() ? std::string() : entries.front().message;
}
}  // namespace

EDBEngineError::EDBEngineError(std::vector<DBEngineErrorEntry> entries)
    : Exception(FirstMessage(entries)), entries_(std::move(entries)) {}

}  // namespace zirvo

#include "db/DatabaseErrorHandler.h"

namespace zirvo::db {

std::string EngineErrorClassification(unsigned code) {
  switch (code) {
    case 0x2201:
    case 0x2302:
    case 0x2B06:
    case 0x2F02:
    case 0x3302:
      return "Corrupted Database";
    case 0x2801:
      return "Record is locked";
    case 0x2B33:
      return "Lock violation";
    default:
      return std::string();
  }
}

void HandleDatabaseError(const Exception& error, const Log& log,
                         const std::function<void()>& actualizeState) {
  const auto* engineError = dynamic_cast<const EDBEngineError*>(&error);
  if (dynamic_cast<const EConvertError*>(&error) != nullptr) {
    log.Line(error.Message());
  } else if (dynamic_cast<const EAbort*>(&error) != nullptr) {
    // The silent error: nothing to log.
  } else if (engineError != nullptr && !engineError->Errors().empty()) {
    const auto& entries = engineError->Errors();
    const DBEngineErrorEntry& first = entries.front();
    if (auto line = EngineErrorClassification(first.errorCode); !line.empty()) log.Line(line);
    log.Line("DB ! " + std::to_string(first.errorCode) + " " + std::to_string(first.Category()) +
             "/" + std::to_string(first.SubCode()) + " - " + first.message);
    for (std::size_t i = 1; i < entries.size(); ++i) log.Line("DB ! " + entries[i].message);
  } else {
    log.Line("! " + error.Message());
  }
  actualizeState();
}

}  // namespace zirvo::db

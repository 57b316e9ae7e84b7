// The service's one place that turns a caught error into log lines.
#pragma once

#include <functional>
#include <string>

#include "base/Errors.h"
#include "base/Log.h"

namespace zirvo::db {

// Logs `error` by its kind, tested in this order: EConvertError (its message as is),
// EAbort (nothing), EDBEngineError (the classification line of entry 0's code when the
// code is classified, then "DB ! code category/subcode - message" for entry 0 and
// "DB ! message" for each further entry), any other Exception ("! " + message). An
// EDBEngineError without entries has no entry 0 to tell of and is logged as any other
// error. Then runs `actualizeState` (the service's ActualizeSQLServiceState) once.
// Raises nothing of its own; an error of `actualizeState` propagates, the lines already
// written. Each line is one log line, whatever the debug switch says. Runs on the
// caller's thread; holds no state.
void HandleDatabaseError(const Exception& error, const Log& log,
                         const std::function<void()>& actualizeState);

// The classification line of a native engine code, or empty text for a code the service
// does not classify.
std::string EngineErrorClassification(unsigned code);

}  // namespace zirvo::db

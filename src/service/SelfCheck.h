// The operator's "-check" switch: every prerequisite of a cycle, tried at once in the
// foreground, one French line per step and a summary. It changes nothing anywhere: the
// settings are read from a private copy, the log lines a read would write are kept in
// memory, the databases are only read, and the service manager is only asked.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "db/ServiceState.h"
#include "platform/ServiceAccount.h"

namespace zirvo::service {

struct SelfCheckOptions {
  // The executable the settings file, "Varnox.ini" and the log are found beside.
  std::string executablePath;
  // The service manager's state query (platform::QueryServiceCurrentState).
  db::ServiceStateQuery stateQuery;
  // The account the service is registered to run as (platform::RegisteredServiceAccount),
  // and whether an account may write at a path (platform::AccountWriteAccess).
  std::function<std::optional<std::string>(const std::string& serviceName)> serviceAccount{};
  std::function<platform::WriteAccess(const std::string& account, const std::string& path)>
      writeAccess{};
  // Bound of each wait: a database login or statement, a connect, a read; twice that
  // for a whole HTTP request.
  std::chrono::seconds bound{10};
  // Registers what an operator's interrupt must do before the process ends
  // (platform::OnOperatorInterrupt): remove the private copy of the settings.
  std::function<void(std::function<void()>)> onInterrupt{};
  // Receives each line of the report, without its line end.
  std::function<void(const std::string&)> print;
};

// Runs the steps in the order of a cycle. A step that cannot run because an earlier one
// failed is reported as not checked. Returns the process exit code: 0 when every step
// passed, 1 otherwise. Raises nothing for a failing step.
int RunSelfCheck(const SelfCheckOptions& options);

}  // namespace zirvo::service

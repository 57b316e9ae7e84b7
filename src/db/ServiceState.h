// The service telling what state it is in: the state report written to the log, the
// French text of the service's status as the service manager sees it, and the state
// history rows of pauses and stops.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/Log.h"

namespace zirvo::db {

class Connection;

// The current-state code (1 stopped ... 7 paused) the service manager reports for a
// service on a machine (empty name: this one), or nullopt when the manager or the
// service cannot be opened with all access (0xF003F) or its status cannot be queried.
// On Windows: OpenServiceHandle (OpenSCManager and OpenService with 0xF003F, the manager
// handle closed at once) then QueryServiceStatus, the service handle closed in every
// case. On Linux: the runtime status record of the service. Must not raise for a missing
// service or refused access.
using ServiceStateQuery = std::function<std::optional<std::uint32_t>(
    const std::string& serviceName, const std::string& machineName)>;

// The text for a state code; nullopt (the query failed) gives "Le service est inexistant !".
std::string ServiceStateText(std::optional<std::uint32_t> state);

// The French status text of a service, through `query`. Never raises: an error the query
// raises counts as a failed query.
std::string ServiceStatusText(const std::string& serviceName, const std::string& machineName,
                              const ServiceStateQuery& query);

// What the state report needs of the service object.
struct StateReportContext {
  Connection& connection;                    // ADO_MSSQLConnection
  Log log;                                   // its debug switch read at each use
  std::function<bool()> timerEnabled;        // TimerService.Enabled
  std::function<std::string()> serviceName;  // "ZirvoServiceName" setting
  ServiceStateQuery stateQuery;
};

// Above this many sent messages the count is logged (in debug mode).
inline constexpr long long kCountLogThreshold = 9999;

// ActualizeSQLServiceState: logs the timer and connection state (debug mode); when the
// connection is open counts SMS_SENDED (whatever the debug mode) and logs counts above
// the threshold; when it is closed logs the service's status text (debug mode).
// Raises to the caller an error of the count query. Any thread: the count runs under the
// connection's lock.
void ActualizeSQLServiceState(const StateReportContext& context);

// RecordServiceState: appends one SrvState row (now, the state number, the state text).
// An error of the insertion is logged as `failurePrefix` + its message and not raised.
// The caller has checked that `connection` is open.
void RecordServiceState(Connection& connection, std::uint8_t stateNumber,
                        const std::string& stateText, const std::string& failurePrefix,
                        const Log& log);

}  // namespace zirvo::db

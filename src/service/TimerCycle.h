// The timer cycle and what it may touch: the steps and state of the service object it
// uses, named one by one, so that the cycle cannot reach anything else of the object.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/Errors.h"
#include "base/Log.h"
#include "config/Settings.h"
#include "db/Connection.h"
#include "host/ServiceFrame.h"
#include "host/ServiceHost.h"
#include "net/Connectivity.h"

namespace zirvo::service {

// Built by the service object for each timer event (TZirvoService::TimerServiceOnTimer)
// from its members; the callables go through the object's virtual work, so a test that
// stands in for a part is still the one the cycle calls.
struct TimerCycleSteps {
  // The settings read: a new period for its write-failure line, the read itself (which
  // may raise and publishes what it read), and the settings in effect.
  std::function<void()> newSettingsWriteFailurePeriod;
  std::function<void()> readSettings;
  std::function<std::shared_ptr<const config::Settings>()> settings;
  // The state report; an error goes on to the caller.
  std::function<void()> reportState;
  // Set while the cycle works; read by the stop handler on the service thread.
  std::atomic<bool>& busy;
  // Disabled while the cycle works, enabled again by its closing block.
  host::ServiceTimer& timer;
  // Closed and opened by the cycle, closed again by its closing block.
  db::Connection& sqlServer;
  // Logs a caught error by kind, then reports the state; an error of the latter goes on.
  std::function<void(const Exception&)> handleDatabaseError;
  std::function<void(int seconds)> waitSeconds;
  const net::IPWatch& addressWatcher;
  // Fetches the MySQL access code from the url and sets the MySQL connection up; empty
  // when that failed (already logged).
  std::function<std::string(const std::string& url)> setupMySQLConnection;
  db::Connection& mySql;
  std::function<void()> checkDelivery;
  // Told to end (terminated), or on its way to stopped: no new cycle may begin.
  std::function<bool()> stopped;
  // The service's status, for the debug line of the preamble.
  std::function<host::ServiceStatus()> status;
  zirvo::Log log;
};

// One timer cycle: settings, SQL Server, network, MySQL access, delivery check. Errors of
// the work are logged and absorbed; an error of the state report before the work, or of
// the closing block, goes on to the caller with the timer enabled again whenever the
// work began.
void RunTimerCycle(const TimerCycleSteps& steps);

// The cycle's debug line for a failed SQL Server connection: the connection string up to
// "PASSWORD=" (found without regard to case) and the first two characters of the
// password, or the whole string and " - PAS DE MOT DE PASSE" when it has none.
std::string MSSQLConnectionFailureLine(std::u16string_view connectionString);

}  // namespace zirvo::service

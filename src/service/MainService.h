// The service object: the components of the service form in form order, the fields the
// cycle and the handlers share, and the lifecycle handlers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "base/Errors.h"
#include "base/Log.h"
#include "config/RemoteAccessCode.h"
#include "config/Settings.h"
#include "db/Connection.h"
#include "db/ConnectionStrings.h"
#include "db/Query.h"
#include "host/ServiceFrame.h"
#include "host/ServiceHost.h"
#include "net/Connectivity.h"
#include "net/HttpClient.h"
#include "net/Tls.h"
#include "service/DiagnosticLog.h"
#include "service/FormComponents.h"
#include "service/TimerCycle.h"

namespace zirvo::service {

using config::kServiceName;
inline constexpr const char* kServiceDisplayName = "Quenzar - Service de gestion des SMS";

// One instance per process, created by the program entry on the main thread and owned by
// the host; the constructor stores it in ZirvoService and runs ServiceCreate, the
// host's destruction runs ServiceDestroy. The handlers run on the threads the frame
// gives them: ServiceCreate and ServiceDestroy on the main thread, the others on the
// service thread.
class TZirvoService : public host::ServiceFrame {
 public:
  // log: where the log lines go; by default the log beside the executable, whose path
  // is worked out anew at each line.
  explicit TZirvoService(host::ServiceHost& host, std::optional<LogWriter> log = std::nullopt);
  ~TZirvoService() override;

  platform::ControllerEntry GetServiceController() override;

  // Components, in the order of the service form. The form's components that no
  // operation uses are left out.
  host::ServiceTimer TimerService;
  TAntiFreeze IdAntiFreeze1;
  // Shared by the service thread (state reports and rows) and the cycle; the connection
  // serialises their use.
  db::Connection ADO_MSSQLConnection;
  db::Query MSSQL_Qry1;
  db::Connection ADO_MySQLConnection;
  net::IPWatch IdIPWatch1;
  std::shared_ptr<net::TlsLibrary> SSLIOHandler;
  net::HttpClient IdHTTP1;
  db::Query MSSQL_Qry2;

  // True while a timer cycle runs (main thread); read by the stop handler (service
  // thread).
  std::atomic<bool> Service_Busy{false};

  // Lifecycle handlers.
  void ServiceCreate(host::ServiceFrame& sender);
  void ServiceStart(host::ServiceFrame& sender, bool& started);
  void ServiceExecute(host::ServiceFrame& sender);
  void ServiceStop(host::ServiceFrame& sender, bool& stopped);
  void ServicePause(host::ServiceFrame& sender, bool& paused);
  void ServiceContinue(host::ServiceFrame& sender, bool& continued);
  void ServiceShutdown(host::ServiceFrame& sender);
  void ServiceDestroy(host::ServiceFrame& sender);

  // The log every collaborator is given: WriteLog, under the debug switch of the
  // settings in effect.
  zirvo::Log ServiceLog() const;
  // One line of the diagnostic log. Any thread. Never raises: a line that cannot be
  // written is lost; the event log hears of the first write failure of the process, and
  // of the first line written after it.
  void WriteLog(const std::string& message) const;
  // Blocks the calling thread for 0 to 59 seconds, logging the wait in debug mode into
  // the same log as WriteLog.
  void WaitSeconds(int seconds) const;
  // For in-process tests only: how WaitSeconds lets its time pass (see WaitPassage). The
  // program never sets it, so the service waits for real. Set before the first cycle.
  void SetWaitPassage(WaitPassage passage) { waitPassage_ = std::move(passage); }

  // Removes the temporary copies of the settings file and of the reply copy that a
  // killed process left beside them, with one log line naming them. At start, before the
  // first settings read.
  void RemoveOrphanCopies();
  // The work the handlers hand on; virtual so that a test can stand in for a part.
  // A settings read: the files and the settings in effect make the next settings, which
  // are applied and published.
  virtual void LireConfiguration();
  // The settings in effect: the value the last settings read made (or the defaults
  // before the first), unchanged for as long as the caller holds it. Any thread.
  std::shared_ptr<const config::Settings> CurrentSettings() const;
  // Gives the timer, the SQL Server connection and the registration what `settings` ask
  // for, then publishes them; the SQL Server connection is closed first if open. A read
  // that stopped at the desktop files changes only the timer: its login is not to be used.
  // The thread of the settings reads.
  void ApplySettings(std::shared_ptr<const config::Settings> settings);
  // Publishes `settings` as they are, applying nothing.
  void PublishSettings(std::shared_ptr<const config::Settings> settings);
  // The next settings write that fails is logged, later ones are not until the next
  // call: at most one such line per cycle. Called at the start and by each cycle.
  void NewSettingsWriteFailurePeriod() { settingsWriteFailureLogged_ = false; }
  virtual void ActualizeSQLServiceState();
  // Writes one state history row; the caller has checked that ADO_MSSQLConnection is
  // connected. Logs failurePrefix + message on a failed insertion.
  virtual void RecordServiceState(std::uint8_t stateNumber, const std::string& stateText,
                                  const std::string& failurePrefix);
  // One timer cycle (RunTimerCycle), given only the steps and state it uses. Main
  // thread. Errors of the work are logged and absorbed; an error of the state report
  // before the work, or of the closing block, leaves for the host's exception handler
  // with the timer enabled again whenever the work began.
  virtual void TimerServiceOnTimer(host::ServiceTimer& sender);
  // Filled by the delivery check; run by the cycle once both databases are open.
  virtual void CheckDelivery();

  // Logs a caught error by kind, then runs ActualizeSQLServiceState; an error of the
  // latter goes on to the caller.
  void HandleDatabaseError(const Exception& error);
  // Closes ADO_MySQLConnection and gives it the connection string for the password.
  void InitMySQLDB(const std::string& password);
  // The proxy settings and the MySQL access code (see config::RemoteAccessCode); the
  // proxy keys read are published with the settings. Cycle's thread.
  std::string SetupMySQLConnection(const std::string& url);

  // The path the settings and log files are named after: the executable's, unless the
  // object was made for a test with another.
  std::string ExecutablePath() const;
  void SetExecutablePath(std::string path) { executablePath_ = std::move(path); }

 protected:
  // A timer cycle is running: a stop waits for its closing block.
  bool WorkInProgress() const override { return cyclesRunning_.load() > 0; }

 private:
  void LogTimerState();
  config::RemoteAccessCode RemoteAccess();
  void ReportSettingsWriteFailure(const std::string& message);

  std::optional<LogWriter> log_;
  WaitPassage waitPassage_;
  std::string executablePath_;
  // Swapped whole under the lock by the settings reads; read by every thread.
  mutable std::mutex settingsMutex_;
  std::shared_ptr<const config::Settings> settings_ = std::make_shared<const config::Settings>();
  // Timer events being handled on the main thread (a count: the anti-freeze pump may
  // nest one event inside another).
  std::atomic<int> cyclesRunning_{0};
  // How far the event log has been told of lost log lines: at most twice per process.
  enum : int { kLogNothingReported, kLogLossReported, kLogRecoveryReported };
  mutable std::atomic<int> logLoss_{kLogNothingReported};
  std::atomic<bool> settingsWriteFailureLogged_{false};
};

// The one service object of the process; null before the program entry creates it and
// after it is destroyed.
extern TZirvoService* ZirvoService;

// The message of the error that ends a network wait of the cycle once the service is
// stopping: the request in flight is given up and its reply is not applied.
inline constexpr const char* kRequestAbandonedOnStop =
    "Requête abandonnée : l'arrêt du service a été demandé.";

// The controller procedure registered with the manager: forwards the code to the
// controller of ZirvoService. Manager's dispatcher thread.
void ServiceController(std::uint32_t code);

}  // namespace zirvo::service

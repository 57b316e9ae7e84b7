#include "service/MainService.h"

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "config/RemoteAccessCode.h"
#include "config/SettingsReader.h"
#include "db/DatabaseErrorHandler.h"
#include "db/ServiceState.h"
#include "db/Statements.h"
#include "delivery/DeliveryCheck.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/ServiceManager.h"

namespace zirvo::service {

TZirvoService* ZirvoService = nullptr;

void ServiceController(std::uint32_t code) {
  if (TZirvoService* service = ZirvoService) service->Controller(code);
}

namespace {

net::HttpClientOptions MainThreadClientOptions(const host::ServiceFrame& service,
                                               TAntiFreeze& antiFreeze,
                                               std::shared_ptr<net::TlsLibrary> tls) {
  net::HttpClientOptions options;
  // A stop must not wait for a peer that takes its time: the client calls the pump at
  // least every 250 ms of waiting, and the error ends the request there.
  options.waits.pump = [&service, &antiFreeze] {
    antiFreeze.Pump();
    if (service.Stopping()) throw EAbort(kRequestAbandonedOnStop);
  };
  options.tlsLibrary = std::move(tls);
  return options;
}

// What a settings read changes in the service object.
class ServiceSettingsTarget final : public config::SettingsTarget {
 public:
  explicit ServiceSettingsTarget(TZirvoService& service) : service_(service) {}

  void SetTimerInterval(std::uint32_t milliseconds) override {
    service_.TimerService.SetInterval(milliseconds);
  }
  std::uint32_t TimerInterval() const override { return service_.TimerService.Interval(); }
  bool SqlServerConnected() override { return service_.ADO_MSSQLConnection.Connected(); }
  void CloseSqlServerConnection() override { service_.ADO_MSSQLConnection.Close(); }
  std::u16string BuildSQLServerConnectionString() override {
    return db::BuildSQLServerConnectionString(
        service_.SC, DebugMode, [this](const std::string& line) { service_.WriteLog(line); });
  }
  void SetSqlServerConnectionString(const std::u16string& connectionString) override {
    // The driver setting is read with the login, so both take effect at the next open.
    service_.ADO_MSSQLConnection.SetSqlServerDriver(
        platform::AnsiToWide(ServiceSettings.SQLServerDriver));
    service_.ADO_MSSQLConnection.SetConnectionString(connectionString);
  }
  std::u16string SqlServerConnectionString() override {
    return service_.ADO_MSSQLConnection.ConnectionString();
  }
  void SetServiceStartName(const std::string& name) override { service_.SetServiceStartName(name); }

 private:
  TZirvoService& service_;
};

// Set on a thread while it runs a lifecycle handler. A handler's log lines may be lost
// when the log cannot be written (a full disk), never its request: a start, pause,
// continue or stop must not fail for a line.
thread_local bool inLifecycleHandler = false;

class LifecycleHandlerScope {
 public:
  LifecycleHandlerScope() : outer_(inLifecycleHandler) { inLifecycleHandler = true; }
  ~LifecycleHandlerScope() { inLifecycleHandler = outer_; }
  LifecycleHandlerScope(const LifecycleHandlerScope&) = delete;
  LifecycleHandlerScope& operator=(const LifecycleHandlerScope&) = delete;

 private:
  bool outer_;
};

}  // namespace

TZirvoService::TZirvoService(host::ServiceHost& host, std::optional<LogWriter> log)
    : host::ServiceFrame(host),
      TimerService(host),
      IdAntiFreeze1(host),
      ADO_MSSQLConnection(db::kSQLServerCreationConnectionString),
      MSSQL_Qry1(ADO_MSSQLConnection),
      ADO_MySQLConnection(db::kMySQLCreationConnectionString),
      SSLIOHandler(net::TlsLibrary::Process()),
      IdHTTP1(MainThreadClientOptions(*this, IdAntiFreeze1, SSLIOHandler)),
      MSSQL_Qry2(ADO_MSSQLConnection),
      log_(std::move(log)) {
  for (std::string_view line : db::kUpdateLines) MSSQL_Qry2.AddLine(std::string(line));
  ZirvoService = this;
  SetName(kServiceName);
  SetDisplayName(kServiceDisplayName);
  SetServiceStartName(kServiceName);
  TimerService.SetEnabled(false);
  TimerService.SetInterval(1000);
  TimerService.OnTimer = [this](host::ServiceTimer& sender) {
    ++cyclesRunning_;
    struct Running {
      std::atomic<int>& count;
      ~Running() { --count; }
    } running{cyclesRunning_};
    TimerServiceOnTimer(sender);
  };
  SetOnStart([this](host::ServiceFrame& sender, bool& started) { ServiceStart(sender, started); });
  SetOnExecute([this](host::ServiceFrame& sender) { ServiceExecute(sender); });
  SetOnStop([this](host::ServiceFrame& sender, bool& stopped) { ServiceStop(sender, stopped); });
  SetOnPause([this](host::ServiceFrame& sender, bool& paused) { ServicePause(sender, paused); });
  SetOnContinue(
      [this](host::ServiceFrame& sender, bool& continued) { ServiceContinue(sender, continued); });
  SetOnShutdown([this](host::ServiceFrame& sender) { ServiceShutdown(sender); });
  OnDestroy = [this](host::ServiceFrame& sender) { ServiceDestroy(sender); };
  // The unit (Linux) names the files an administrator looks for first.
  BeforeInstall = [this](host::ServiceFrame&) {
    SetDocumentedFiles({{"Paramètres", ChangeFileExt(ExecutablePath(), ".ini")},
                        {"Journal", ChangeFileExt(ExecutablePath(), ".log")}});
  };
  ServiceCreate(*this);
}

TZirvoService::~TZirvoService() {
  if (ZirvoService == this) ZirvoService = nullptr;
}

platform::ControllerEntry TZirvoService::GetServiceController() { return &ServiceController; }

void TZirvoService::WriteLog(const std::string& message) const {
  try {
    if (log_) {
      log_->WriteLog(message);
    } else {
      service::WriteLog(message);
    }
  } catch (const EInOutError& error) {
    if (!inLifecycleHandler) throw;
    // The line is lost, as any line the log cannot take; the request is not. The event
    // log hears of it once until a line is written again.
    if (!logFailureReported_.exchange(true)) LogServiceEvent(error.Message());
    return;
  }
  logFailureReported_.store(false);
}

void TZirvoService::LogTimerState() {
  WriteLog(TimerService.Enabled() ? "ActualizeSQLServiceState : état du timer : actif"
                                  : "ActualizeSQLServiceState : état du timer : inactif");
}

void TZirvoService::ServiceCreate(host::ServiceFrame&) {
  const LifecycleHandlerScope scope;
  WriteLog("TZirvoService.ServiceCreate...");
  Service_Busy = false;
}

void TZirvoService::ServiceStart(host::ServiceFrame&, bool& started) {
  const LifecycleHandlerScope scope;
  WriteLog("TZirvoService.ServiceStart...");
  ReportServiceStatus();
  try {
    WriteLog("Lecture de la configuration...");
    NewSettingsWriteFailurePeriod();
    LireConfiguration();
    if (DebugMode) WriteLog("Service en cours de démarrage...");
  } catch (const Exception& error) {
    WriteLog("Erreur lors de la lecture de la configuration : " + error.Message());
  }
  if (TimerService.Interval() == 0) {
    // A timer without ticks: the service would run without ever doing its work.
    WriteLog(
        "Intervalle nul (clé Interval de la section Main) : aucun cycle ne sera "
        "exécuté tant que l'intervalle n'aura pas été modifié et le service redémarré.");
  }
  ActualizeSQLServiceState();
  started = true;
  if (DebugMode) {
    // The frame reports running only once this handler has returned.
    WriteLog(Status() == host::ServiceStatus::csRunning
                 ? "Le service est en cours d'exécution."
                 : "ZirvoServiceStart : le service n'est pas en cours d'exécution.");
  }
}

void TZirvoService::ServiceExecute(host::ServiceFrame&) {
  const LifecycleHandlerScope scope;
  WriteLog("TZirvoService.ServiceExecute...");
  TimerService.SetEnabled(true);
  while (!Terminated()) {
    try {
      ProcessServiceRequests(true);
    } catch (const std::exception&) {
      // The request loop reports its own failures; the service simply serves on.
    }
  }
}

void TZirvoService::ServiceStop(host::ServiceFrame&, bool&) {
  const LifecycleHandlerScope scope;
  WriteLog("TZirvoService.Stop...");
  try {
    if (Service_Busy) {
      if (DebugMode) {
        WriteLog("Arrêt du service des SMS impossible parce qu'il est occupé (Service_Busy=True).");
      }
      ActualizeSQLServiceState();
      return;
    }
  } catch (const Exception& error) {
    WriteLog("Error in [if ServiceStop.ZirvoService.Service_Busy] : " + error.Message());
  }
  try {
    ActualizeSQLServiceState();
    if (DebugMode) WriteLog("ZirvoService mis en pause...");
    ActualizeSQLServiceState();
  } catch (const Exception& error) {
    WriteLog("Error in [if not ServiceStop.ZirvoService.Status in...] : " + error.Message());
  }
  if (DebugMode) {
    WriteLog(TimerService.Enabled() ? "ActualizeSQLServiceState : état du timer : actif"
                                    : "ActualizeSQLServiceState : état du timer : inactif");
  }
  try {
    if (ADO_MSSQLConnection.Connected()) {
      RecordServiceState(
          7, "Le service des SMS est en pause",
          "Impossible d'enregistrer l'état du service des SMS dans la base de données : ");
    }
  } catch (const Exception& error) {
    WriteLog("Error in ServiceStop [if ADO_MSSQLConnection.Connected]: " + error.Message());
  }
}

void TZirvoService::ServicePause(host::ServiceFrame&, bool&) {
  const LifecycleHandlerScope scope;
  WriteLog("Service SMS mis en pause...");
  ActualizeSQLServiceState();
  if (DebugMode) LogTimerState();
  if (ADO_MSSQLConnection.Connected()) {
    RecordServiceState(7, "Le service est en pause",
                       "Impossible d'enregistrer l'état du service dans la base de données : ");
  }
}

void TZirvoService::ServiceContinue(host::ServiceFrame&, bool&) {
  const LifecycleHandlerScope scope;
  WriteLog("ZirvoService en cours (ServiceContinue)...");
  if (DebugMode) WriteLog("ZirvoService en cours (ServiceContinue)...");
  ActualizeSQLServiceState();
}

void TZirvoService::ServiceShutdown(host::ServiceFrame&) {
  const LifecycleHandlerScope scope;
  WriteLog("ZirvoService en cours d'arrêt...");
  ActualizeSQLServiceState();
}

void TZirvoService::ServiceDestroy(host::ServiceFrame&) {
  const LifecycleHandlerScope scope;
  WriteLog("TZirvoService.ServiceDestroy...");
  if (DebugMode) WriteLog("ZirvoService en cours de destruction...");
  ActualizeSQLServiceState();
}

std::string TZirvoService::ExecutablePath() const {
  return executablePath_.empty() ? platform::ExecutablePath() : executablePath_;
}

void TZirvoService::LireConfiguration() {
  ServiceSettingsTarget target(*this);
  config::SettingsReader reader(
      ExecutablePath(), [this](const std::string& line) { WriteLog(line); }, target, SC,
      ServiceSettings, DebugMode);
  // Publish the service name however the read ends, even by an error.
  struct NamePublisher {
    TZirvoService& service;
    ~NamePublisher() {
      std::lock_guard<std::mutex> lock(service.reportedNameMutex_);
      service.reportedServiceName_ = ServiceSettings.ZirvoServiceName;
    }
  } publisher{*this};
  reader.SetWriteFailureReporter(
      [this](const std::string& message) { ReportSettingsWriteFailure(message); });
  settingsReadCompleted_ = true;
  settingsReadCompleted_ = reader.LireConfiguration();
}

void TZirvoService::ReportSettingsWriteFailure(const std::string& message) {
  if (settingsWriteFailureLogged_.exchange(true)) return;
  WriteLog("Erreur lors de la lecture de la configuration - étape 1 : " + message);
}

std::string TZirvoService::ReportedServiceName() const {
  std::lock_guard<std::mutex> lock(reportedNameMutex_);
  return reportedServiceName_;
}

void TZirvoService::ActualizeSQLServiceState() {
  db::ActualizeSQLServiceState(db::StateReportContext{
      ADO_MSSQLConnection,
      [this](const std::string& line) { WriteLog(line); },
      [] { return DebugMode.load(); },
      [this] { return TimerService.Enabled(); },
      [this] { return ReportedServiceName(); },
      platform::QueryServiceCurrentState,
  });
}

void TZirvoService::RecordServiceState(std::uint8_t stateNumber, const std::string& stateText,
                                       const std::string& failurePrefix) {
  db::RecordServiceState(ADO_MSSQLConnection, stateNumber, stateText, failurePrefix,
                         [this](const std::string& line) { WriteLog(line); });
}

void TZirvoService::WaitSeconds(int seconds) const {
  if (log_) {
    service::WaitSeconds(seconds, *log_, DebugMode, waitPassage_);
  } else {
    service::WaitSeconds(seconds, LogWriter(DefaultLogFilePath()), DebugMode, waitPassage_);
  }
}

void TZirvoService::HandleDatabaseError(const Exception& error) {
  db::HandleDatabaseError(
      error, [this](const std::string& line) { WriteLog(line); },
      [this] { ActualizeSQLServiceState(); });
}

void TZirvoService::InitMySQLDB(const std::string& password) {
  db::InitMySQLDB(ADO_MySQLConnection, platform::AnsiToWide(password), DebugMode,
                  [this](const std::string& line) { WriteLog(line); });
}

config::RemoteAccessCode TZirvoService::RemoteAccess() {
  config::RemoteAccessCode remoteAccess(config::RemoteAccessCodeContext{
      ChangeFileExt(ExecutablePath(), ".ini"),
      IdHTTP1,
      ServiceSettings,
      DebugMode,
      [this](const std::string& line) { WriteLog(line); },
      [this](const std::string& password) { InitMySQLDB(password); },
      [this](const Exception& error) { HandleDatabaseError(error); },
  });
  remoteAccess.OnSettingsWriteFailure(
      [this](const Exception& error) { ReportSettingsWriteFailure(error.Message()); });
  return remoteAccess;
}

void TZirvoService::ReadProxySettings() { RemoteAccess().ReadProxySettings(); }

bool TZirvoService::CheckProxy(const std::string& url) { return RemoteAccess().CheckProxy(url); }

std::string TZirvoService::SetupMySQLConnection(const std::string& url) {
  return RemoteAccess().SetupMySQLConnection(url);
}

void TZirvoService::TimerServiceOnTimer(host::ServiceTimer&) {
  RunTimerCycle(TimerCycleSteps{
      .newSettingsWriteFailurePeriod = [this] { NewSettingsWriteFailurePeriod(); },
      .readSettings = [this] { LireConfiguration(); },
      .settingsReadCompleted = [this] { return SettingsReadCompleted(); },
      .reportState = [this] { ActualizeSQLServiceState(); },
      .busy = Service_Busy,
      .timer = TimerService,
      .sqlServer = ADO_MSSQLConnection,
      .handleDatabaseError = [this](const Exception& error) { HandleDatabaseError(error); },
      .waitSeconds = [this](int seconds) { WaitSeconds(seconds); },
      .addressWatcher = IdIPWatch1,
      .setupMySQLConnection = [this](const std::string& url) { return SetupMySQLConnection(url); },
      .mySql = ADO_MySQLConnection,
      .checkDelivery = [this] { CheckDelivery(); },
      .stopped = [this] { return Terminated() || Stopping(); },
      .status = [this] { return Status(); },
      .writeLog = [this](const std::string& line) { WriteLog(line); },
  });
}

void TZirvoService::CheckDelivery() {
  delivery::DeliveryContext context{
      .selection = MSSQL_Qry1,
      .update = MSSQL_Qry2,
      .http = IdHTTP1,
      .gatewayHost = ServiceSettings.GatewayHost,
      .writeLog = [this](const std::string& line) { WriteLog(line); },
      .debugMode = [] { return DebugMode.load(); },
      .resultFilePath = delivery::ResultFilePath(ExecutablePath()),
      .handleDatabaseError = [this](const Exception& error) { HandleDatabaseError(error); },
      .now = platform::LocalNow,
      .dateFormat = std::nullopt,
      .tlsVerification = static_cast<net::TlsVerification>(ServiceSettings.GatewayTlsVerification),
  };
  delivery::CheckDelivery(context);
}

}  // namespace zirvo::service

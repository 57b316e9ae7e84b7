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
#include "platform/FileAccess.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/ServiceManager.h"
#include "platform/SystemError.h"
#include "service/OutsideAccessReport.h"
#include "service/ProgramFolderAccess.h"

namespace zirvo::service {

TZirvoService* ZirvoService = nullptr;

void ServiceController(std::uint32_t code) {
  if (TZirvoService* service = ZirvoService) service->Controller(code);
}

namespace {

// Gives up the network request or the delivery check in progress once the service is
// stopping.
void ThrowIfStopping(const host::ServiceFrame& service) {
  if (service.Stopping()) throw EAbort(kRequestAbandonedOnStop);
}

net::HttpClientOptions MainThreadClientOptions(const host::ServiceFrame& service,
                                               TAntiFreeze& antiFreeze,
                                               std::shared_ptr<net::TlsLibrary> tls) {
  net::HttpClientOptions options;
  options.waits.pump = [&antiFreeze] { antiFreeze.Pump(); };
  // A stop must not wait for a peer that takes its time: the client checks at least
  // every 250 ms of a request, whether data comes or not, and before it writes.
  options.waits.stopCheck = [&service] { ThrowIfStopping(service); };
  options.tlsLibrary = std::move(tls);
  return options;
}

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
  SetRegistration(
      {.name = kServiceName, .displayName = kServiceDisplayName, .startName = kServiceName});
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
    host::ServiceRegistration registration = Registration();
    registration.documentedFiles = {{"Paramètres", ChangeFileExt(ExecutablePath(), ".ini")},
                                    {"Journal", ChangeFileExt(ExecutablePath(), ".log")}};
    SetRegistration(std::move(registration));
  };
  // The account the service was installed under gets what it needs of the program's
  // folder and nothing more; the system's own account needs no grant.
  AfterInstall = [this](host::ServiceFrame&) {
    if (platform::FileAccessListsApply() && !ServiceStartName().empty()) {
      platform::GrantAccess(ServiceStartName(), ProgramFolderGrants(ExecutablePath()));
    }
  };
  SSLIOHandler->SetLoadReport(ServiceLog().Writer());
  ServiceCreate(*this);
}

TZirvoService::~TZirvoService() {
  SSLIOHandler->SetLoadReport(nullptr);
  if (ZirvoService == this) ZirvoService = nullptr;
}

platform::ControllerEntry TZirvoService::GetServiceController() { return &ServiceController; }

zirvo::Log TZirvoService::ServiceLog() const {
  return zirvo::Log([this](const std::string& line) { WriteLog(line); },
                    [this] { return CurrentSettings()->DebugMode; });
}

void TZirvoService::WriteLog(const std::string& message) const {
  const LogWriter writer = log_ ? *log_ : LogWriter(DefaultLogFilePath());
  const LogLineOutcome outcome = writer.WriteLog(message);
  // Lines lost on a full disk are told to the event log once per process, and once more
  // when they are written again: often enough for an administrator, never a flood.
  int expected = kLogNothingReported;
  if (outcome.writeError != 0 && logLoss_.compare_exchange_strong(expected, kLogLossReported)) {
    LogServiceEvent(LogWriteErrorText(writer.Path(), outcome.writeError) +
                    ". Les lignes du journal sont perdues tant que l'écriture échoue.");
  }
  expected = kLogLossReported;
  if (outcome.written && logLoss_.compare_exchange_strong(expected, kLogRecoveryReported)) {
    LogServiceEvent("Écriture dans le journal " + writer.Path() +
                    " rétablie : les lignes écrites pendant la panne sont perdues.");
  }
}

void TZirvoService::RemoveOrphanCopies() {
  // A process killed between writing a copy and renaming it (a stop time-out, the
  // out-of-memory killer, a power cut) leaves the copy for good: the settings' copy
  // holds their secrets, scrambled as they are.
  std::vector<std::string> removed;
  for (const std::string& path :
       {ChangeFileExt(ExecutablePath(), ".ini"), delivery::ResultFilePath(ExecutablePath())}) {
    platform::OrphanRemoval found = platform::RemoveOrphanReplacements(path);
    removed.insert(removed.end(), found.removed.begin(), found.removed.end());
    for (const auto& [file, error] : found.failed) {
      WriteLog("Copie temporaire laissée par un arrêt brutal impossible à supprimer : " +
               platform::PathToText(file) + " : " +
               platform::SystemErrorText(static_cast<std::uint32_t>(error)));
    }
  }
  if (removed.empty()) return;
  std::string names;
  for (const auto& file : removed) {
    names += (names.empty() ? "" : ", ") + platform::PathToText(file);
  }
  WriteLog("Copies temporaires laissées par un arrêt brutal supprimées : " + names);
}

void TZirvoService::LogTimerState() {
  WriteLog(TimerService.Enabled() ? "ActualizeSQLServiceState : état du timer : actif"
                                  : "ActualizeSQLServiceState : état du timer : inactif");
}

void TZirvoService::ServiceCreate(host::ServiceFrame&) {
  WriteLog("TZirvoService.ServiceCreate...");
  Service_Busy = false;
}

void TZirvoService::ServiceStart(host::ServiceFrame&, bool& started) {
  WriteLog("TZirvoService.ServiceStart...");
  ReportServiceStatus();
  RemoveOrphanCopies();
  try {
    WriteLog("Lecture de la configuration...");
    NewSettingsWriteFailurePeriod();
    LireConfiguration();
    ServiceLog().DebugLine("Service en cours de démarrage...");
  } catch (const Exception& error) {
    WriteLog("Erreur lors de la lecture de la configuration : " + error.Message());
  }
  // Once per start, whatever the debug mode: others who may change the program or read
  // its secrets are the operator's first concern.
  const std::string outsideAccess = service::OutsideAccessLogLine(
      service::FindOutsideAccess(ExecutablePath(), CurrentSettings()->ZirvoServiceName));
  if (!outsideAccess.empty()) WriteLog(outsideAccess);
  if (TimerService.Interval() == 0) {
    // A timer without ticks: the service would run without ever doing its work.
    WriteLog(
        "Intervalle nul (clé Interval de la section Main) : aucun cycle ne sera "
        "exécuté tant que l'intervalle n'aura pas été modifié et le service redémarré.");
  }
  ActualizeSQLServiceState();
  started = true;
  if (ServiceLog().Debug()) {
    // The frame reports running only once this handler has returned.
    WriteLog(Status() == host::ServiceStatus::csRunning
                 ? "Le service est en cours d'exécution."
                 : "ZirvoServiceStart : le service n'est pas en cours d'exécution.");
  }
}

void TZirvoService::ServiceExecute(host::ServiceFrame&) {
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
  WriteLog("TZirvoService.Stop...");
  try {
    if (Service_Busy) {
      if (ServiceLog().Debug()) {
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
    ServiceLog().DebugLine("ZirvoService mis en pause...");
    ActualizeSQLServiceState();
  } catch (const Exception& error) {
    WriteLog("Error in [if not ServiceStop.ZirvoService.Status in...] : " + error.Message());
  }
  if (ServiceLog().Debug()) {
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
  WriteLog("Service SMS mis en pause...");
  ActualizeSQLServiceState();
  if (ServiceLog().Debug()) LogTimerState();
  if (ADO_MSSQLConnection.Connected()) {
    RecordServiceState(7, "Le service est en pause",
                       "Impossible d'enregistrer l'état du service dans la base de données : ");
  }
}

void TZirvoService::ServiceContinue(host::ServiceFrame&, bool&) {
  WriteLog("ZirvoService en cours (ServiceContinue)...");
  ServiceLog().DebugLine("ZirvoService en cours (ServiceContinue)...");
  ActualizeSQLServiceState();
}

void TZirvoService::ServiceShutdown(host::ServiceFrame&) {
  WriteLog("ZirvoService en cours d'arrêt...");
  ActualizeSQLServiceState();
}

void TZirvoService::ServiceDestroy(host::ServiceFrame&) {
  WriteLog("TZirvoService.ServiceDestroy...");
  ServiceLog().DebugLine("ZirvoService en cours de destruction...");
  ActualizeSQLServiceState();
}

std::string TZirvoService::ExecutablePath() const {
  return executablePath_.empty() ? platform::ExecutablePath() : executablePath_;
}

void TZirvoService::LireConfiguration() {
  config::SettingsReader reader(ExecutablePath(), ServiceLog());
  reader.SetWriteFailureReporter(
      [this](const std::string& message) { ReportSettingsWriteFailure(message); });
  ApplySettings(std::make_shared<const config::Settings>(
      reader.Read(*CurrentSettings(), ADO_MSSQLConnection.Connected())));
}

void TZirvoService::ApplySettings(std::shared_ptr<const config::Settings> settings) {
  TimerService.SetInterval(settings->Interval * 1000u);
  if (settings->Outcome.completed) {
    if (ADO_MSSQLConnection.Connected()) ADO_MSSQLConnection.Close();
    // The driver setting is read with the login, so both take effect at the next open.
    ADO_MSSQLConnection.SetSqlServerDriver(platform::AnsiToWide(settings->SQLServerDriver));
    ADO_MSSQLConnection.SetEncryption(settings->SqlServerEncrypt);
    ADO_MSSQLConnection.SetConnectionString(settings->SqlServerConnectionString);
    if (settings->ZirvoServiceName != kServiceName) SetServiceStartName(settings->ZirvoServiceName);
  }
  PublishSettings(std::move(settings));
}

void TZirvoService::PublishSettings(std::shared_ptr<const config::Settings> settings) {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  settings_ = std::move(settings);
}

std::shared_ptr<const config::Settings> TZirvoService::CurrentSettings() const {
  std::lock_guard<std::mutex> lock(settingsMutex_);
  return settings_;
}

void TZirvoService::ReportSettingsWriteFailure(const std::string& message) {
  if (settingsWriteFailureLogged_.exchange(true)) return;
  WriteLog("Erreur lors de la lecture de la configuration - étape 1 : " + message);
}

void TZirvoService::ActualizeSQLServiceState() {
  db::ActualizeSQLServiceState(db::StateReportContext{
      ADO_MSSQLConnection,
      ServiceLog(),
      [this] { return TimerService.Enabled(); },
      [this] { return CurrentSettings()->ZirvoServiceName; },
      platform::QueryServiceCurrentState,
  });
}

void TZirvoService::RecordServiceState(std::uint8_t stateNumber, const std::string& stateText,
                                       const std::string& failurePrefix) {
  db::RecordServiceState(ADO_MSSQLConnection, stateNumber, stateText, failurePrefix, ServiceLog());
}

void TZirvoService::WaitSeconds(int seconds) const {
  // Straight to the file, as it always was: not through WriteLog's loss reports.
  const LogWriter writer = log_ ? *log_ : LogWriter(DefaultLogFilePath());
  service::WaitSeconds(seconds, writer.AsLog([this] { return CurrentSettings()->DebugMode; }),
                       waitPassage_);
}

void TZirvoService::HandleDatabaseError(const Exception& error) {
  db::HandleDatabaseError(error, ServiceLog(), [this] { ActualizeSQLServiceState(); });
}

void TZirvoService::InitMySQLDB(const std::string& password) {
  db::InitMySQLDB(ADO_MySQLConnection, platform::AnsiToWide(password), ServiceLog());
}

config::RemoteAccessCode TZirvoService::RemoteAccess() {
  config::RemoteAccessCode remoteAccess(config::RemoteAccessCodeContext{
      ChangeFileExt(ExecutablePath(), ".ini"),
      IdHTTP1,
      ServiceLog(),
      [this](const std::string& password) { InitMySQLDB(password); },
      [this](const Exception& error) { HandleDatabaseError(error); },
  });
  remoteAccess.OnSettingsWriteFailure(
      [this](const Exception& error) { ReportSettingsWriteFailure(error.Message()); });
  return remoteAccess;
}

std::string TZirvoService::SetupMySQLConnection(const std::string& url) {
  const std::shared_ptr<const config::Settings> current = CurrentSettings();
  config::AccessCodeSetup setup = RemoteAccess().SetupMySQLConnection(url, *current);
  auto next = std::make_shared<config::Settings>(*current);
  next->Proxy = std::move(setup.proxy);
  PublishSettings(std::move(next));
  return setup.password;
}

void TZirvoService::TimerServiceOnTimer(host::ServiceTimer&) {
  RunTimerCycle(TimerCycleSteps{
      .newSettingsWriteFailurePeriod = [this] { NewSettingsWriteFailurePeriod(); },
      .readSettings = [this] { LireConfiguration(); },
      .settings = [this] { return CurrentSettings(); },
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
      .log = ServiceLog(),
  });
}

void TZirvoService::CheckDelivery() {
  const std::shared_ptr<const config::Settings> settings = CurrentSettings();
  delivery::DeliveryContext context{
      .selection = MSSQL_Qry1,
      .update = MSSQL_Qry2,
      .http = IdHTTP1,
      .gatewayHost = settings->GatewayHost,
      .log = ServiceLog(),
      .resultFilePath = delivery::ResultFilePath(ExecutablePath()),
      .handleDatabaseError = [this](const Exception& error) { HandleDatabaseError(error); },
      .now = platform::LocalNow,
      .dateFormat = std::nullopt,
      .stopCheck = [this] { ThrowIfStopping(*this); },
      .tlsVerification = static_cast<net::TlsVerification>(settings->GatewayTlsVerification),
  };
  delivery::CheckDelivery(context);
}

}  // namespace zirvo::service

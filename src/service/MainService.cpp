#include "service/MainService.h"

#include "base/Errors.h"

namespace zirvo::service {

TZirvoService* ZirvoService = nullptr;

void ServiceController(std::uint32_t code) {
  if (TZirvoService* service = ZirvoService) service->Controller(code);
}

TZirvoService::TZirvoService(host::ServiceHost& host, std::optional<LogWriter> log)
    : host::ServiceFrame(host), TimerService(host), log_(std::move(log)) {
  ZirvoService = this;
  SetName(kServiceName);
  SetDisplayName(kServiceDisplayName);
  SetServiceStartName(kServiceName);
  TimerService.SetEnabled(false);
  TimerService.SetInterval(1000);
  TimerService.OnTimer = [this](host::ServiceTimer& sender) { TimerServiceOnTimer(sender); };
  SetOnStart([this](host::ServiceFrame& sender, bool& started) { ServiceStart(sender, started); });
  SetOnExecute([this](host::ServiceFrame& sender) { ServiceExecute(sender); });
  SetOnStop([this](host::ServiceFrame& sender, bool& stopped) { ServiceStop(sender, stopped); });
  SetOnPause([this](host::ServiceFrame& sender, bool& paused) { ServicePause(sender, paused); });
  SetOnContinue(
      [this](host::ServiceFrame& sender, bool& continued) { ServiceContinue(sender, continued); });
  SetOnShutdown([this](host::ServiceFrame& sender) { ServiceShutdown(sender); });
  OnDestroy = [this](host::ServiceFrame& sender) { ServiceDestroy(sender); };
  ServiceCreate(*this);
}

TZirvoService::~TZirvoService() {
  if (ZirvoService == this) ZirvoService = nullptr;
}

platform::ControllerEntry TZirvoService::GetServiceController() { return &ServiceController; }

void TZirvoService::WriteLog(const std::string& message) const {
  if (log_) {
    log_->WriteLog(message);
  } else {
    service::WriteLog(message);
  }
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
  try {
    WriteLog("Lecture de la configuration...");
    LireConfiguration();
    if (DebugMode) WriteLog("Service en cours de démarrage...");
  } catch (const Exception& error) {
    WriteLog("Erreur lors de la lecture de la configuration : " + error.Message());
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
  // A stop is never refused. A log that can no longer be written (a full disk) would
  // otherwise end this handler with an error, and the frame would then keep the service
  // running: the stop's lines hand such a failure to the event log, once, and go on.
  bool logFailureReported = false;
  const auto log = [&](const std::string& message) {
    try {
      WriteLog(message);
    } catch (const Exception& error) {
      if (!logFailureReported) LogServiceEvent(error.Message());
      logFailureReported = true;
    }
  };
  log("TZirvoService.Stop...");
  try {
    if (Service_Busy) {
      if (DebugMode) {
        log("Arrêt du service des SMS impossible parce qu'il est occupé (Service_Busy=True).");
      }
      ActualizeSQLServiceState();
      return;
    }
  } catch (const Exception& error) {
    log("Error in [if ServiceStop.ZirvoService.Service_Busy] : " + error.Message());
  }
  try {
    ActualizeSQLServiceState();
    if (DebugMode) log("ZirvoService mis en pause...");
    ActualizeSQLServiceState();
  } catch (const Exception& error) {
    log("Error in [if not ServiceStop.ZirvoService.Status in...] : " + error.Message());
  }
  if (DebugMode) {
    log(TimerService.Enabled() ? "ActualizeSQLServiceState : état du timer : actif"
                               : "ActualizeSQLServiceState : état du timer : inactif");
  }
  try {
    if (ADO_MSSQLConnection.Connected()) {
      RecordServiceState(
          7, "Le service des SMS est en pause",
          "Impossible d'enregistrer l'état du service des SMS dans la base de données : ");
    }
  } catch (const Exception& error) {
    log("Error in ServiceStop [if ADO_MSSQLConnection.Connected]: " + error.Message());
  }
}

void TZirvoService::ServicePause(host::ServiceFrame&, bool&) {
  WriteLog("Service SMS mis en pause...");
  ActualizeSQLServiceState();
  if (DebugMode) LogTimerState();
  if (ADO_MSSQLConnection.Connected()) {
    RecordServiceState(7, "Le service est en pause",
                       "Impossible d'enregistrer l'état du service dans la base de données : ");
  }
}

void TZirvoService::ServiceContinue(host::ServiceFrame&, bool&) {
  WriteLog("ZirvoService en cours (ServiceContinue)...");
  if (DebugMode) WriteLog("ZirvoService en cours (ServiceContinue)...");
  ActualizeSQLServiceState();
}

void TZirvoService::ServiceShutdown(host::ServiceFrame&) {
  WriteLog("ZirvoService en cours d'arrêt...");
  ActualizeSQLServiceState();
}

void TZirvoService::ServiceDestroy(host::ServiceFrame&) {
  WriteLog("TZirvoService.ServiceDestroy...");
  if (DebugMode) WriteLog("ZirvoService en cours de destruction...");
  ActualizeSQLServiceState();
}

// Seams: see the declarations.
void TZirvoService::LireConfiguration() {}
void TZirvoService::ActualizeSQLServiceState() {}
void TZirvoService::RecordServiceState(std::uint8_t, const std::string&, const std::string&) {}
void TZirvoService::TimerServiceOnTimer(host::ServiceTimer&) {}

}  // namespace zirvo::service

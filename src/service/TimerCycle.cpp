// The timer cycle of the service object: everything the service does between two timer
// events, with the guards that keep one failing step from stopping the next cycle.
#include <exception>
#include <functional>

#include "base/DateTime.h"
#include "base/Errors.h"
#include "base/StringUtils.h"
#include "config/RemoteAccessCode.h"
#include "net/Connectivity.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "service/TimerCycle.h"

namespace zirvo::service {

namespace {

constexpr char kWatcherName[] = "IdIPWatch1";

std::string Now() { return DateTimeToStr(platform::LocalNow()); }

// The debug line's wording for a status, followed by the time.
const char* StatusWording(host::ServiceStatus status) {
  switch (status) {
    case host::ServiceStatus::csRunning:
      return "Le service est en cours d'exécution à ";
    case host::ServiceStatus::csStopped:
      return "Le service est csStopped à ";
    case host::ServiceStatus::csStartPending:
      return "Le service est csStartPending à ";
    case host::ServiceStatus::csStopPending:
      return "Le service est csStopPending à ";
    case host::ServiceStatus::csContinuePending:
      return "Le service est csContinuePending à ";
    case host::ServiceStatus::csPausePending:
      return "Le service est csPausePending à ";
    default:
      return "Le service est en pause à ";
  }
}

// One run of TimerServiceOnTimer.
class TimerCycle {
 public:
  explicit TimerCycle(const TimerCycleSteps& steps) : steps_(steps) {}

  void Run();

 private:
  bool Debug() const { return steps_.log.Debug(); }
  // Told to end, or on its way to stopped once its thread has ended: either way no new
  // cycle may begin.
  bool Stopped() const { return steps_.stopped(); }
  void Log(const std::string& message) const { steps_.log.Line(message); }
  // Runs a step; an Exception it raises is logged after the place's prefix and the
  // cycle goes on.
  void Guarded(const char* prefix, const std::function<void()>& step) const;
  // The preamble; false when the event is to be skipped.
  bool Preamble();
  // The work; returning early ends the work.
  void Work();
  void Closing(const std::exception_ptr& escaping);

  const TimerCycleSteps& steps_;
};

void TimerCycle::Guarded(const char* prefix, const std::function<void()>& step) const {
  try {
    step();
  } catch (const Exception& error) {
    Log(prefix + error.Message());
  }
}

bool TimerCycle::Preamble() {
  steps_.newSettingsWriteFailurePeriod();
  try {
    steps_.readSettings();
  } catch (const Exception& error) {
    Log("Erreur lors de la lecture de la configuration : " + error.Message());
  }
  steps_.reportState();
  if (Debug()) {
    Log("Exécution du timer à " + Now());
    Guarded("Error in TimerServiceOnTimer [if DebugMode and ZirvoService.Terminated]: ", [&] {
      if (Stopped()) {
        Log("Le service est arrêté à " + Now());
      } else if (steps_.busy) {
        Log("Le service est occupé à " + Now());
      } else {
        Log(StatusWording(steps_.status()) + Now());
      }
    });
  }
  bool skip = false;
  Guarded("Error in TimerServiceOnTimer [if ZirvoService.Terminated]: ", [&] {
    if (Stopped()) {
      Log("Service terminé à " + Now());
      skip = true;
    }
  });
  if (skip) return false;
  Guarded("Error in TimerServiceOnTimer [if ZirvoService.Service_Busy]: ", [&] {
    if (steps_.busy) {
      Log("Service occupé à " + Now());
      skip = true;
    }
  });
  if (skip) return false;
  if (Debug()) Log("Le service is csRunning à " + Now());
  steps_.timer.SetEnabled(false);
  if (Debug()) Log("Désactivation du timer effectuée.");
  Guarded("Error in TimerServiceOnTimer [ZirvoService.Service_Busy:=true]: ",
          [&] { steps_.busy = true; });
  return true;
}

void TimerCycle::Work() {
  steps_.sqlServer.Close();
  steps_.readSettings();
  // The read said why it stopped; the login it leaves is not the one the desktop files
  // ask for, and no database is to be touched with it.
  if (!steps_.settings()->Outcome.completed) return;
  try {
    steps_.sqlServer.Open();
    if (Debug()) Log("Connexion MSSQL réussie.");
  } catch (const Exception& error) {
    if (Debug()) Log(MSSQLConnectionFailureLine(steps_.sqlServer.ConnectionString()));
    steps_.handleDatabaseError(error);
    return;
  }
  steps_.waitSeconds(1);
  if (Debug()) {
    Log(steps_.sqlServer.Connected()
            ? "ADO_MSSQLConnection.Connected = True -> UpgradeDB..."
            : "ADO_MSSQLConnection.Connected = False - la base de données MSSQL n'est pas "
              "connectée -> pas de UpgradeDB.");
  }
  if (Debug()) Log("ActualizeSQLServiceState; ...");
  steps_.reportState();

  if (!net::CountsAsConnected(steps_.addressWatcher.LocalAddress())) {
    Log("Erreur : la connexion internet n'est pas active.");
    return;
  }
  if (Debug()) {
    Log("Connexion internet active - récupération du password à partir de " +
        steps_.addressWatcher.LocalAddress() + " / " + kWatcherName);
  }
  if (steps_.setupMySQLConnection(config::AccessCodeUrl(steps_.settings()->AccessCodeHost)).empty())
    return;
  if (Debug()) Log("Paramétrage de la connexion MySQL par CheckProxy réussie.");

  steps_.mySql.Close();
  try {
    steps_.mySql.Open();
    if (Debug()) Log("Connexion MySQL réussie.");
  } catch (const Exception& error) {
    steps_.handleDatabaseError(error);
    Log("Erreur : " + error.Message());
    return;
  }
  steps_.waitSeconds(1);
  steps_.checkDelivery();
}

void TimerCycle::Closing(const std::exception_ptr& escaping) {
  // A log line that cannot be written (a full disk) must not keep the timer disabled
  // and the service busy for good: such a failure is held back until the state is
  // restored, then raised in place of whatever error was on its way out.
  std::exception_ptr logFailure;
  const auto logged = [&](const std::function<void()>& step) {
    try {
      step();
    } catch (...) {
      if (!logFailure) logFailure = std::current_exception();
    }
  };
  logged([&] {
    Guarded("Error in TimerServiceOnTimer [Finally...]: ", [&] {
      if (steps_.busy && Debug()) {
        Log("Timer.Finally atteint à " + Now() + " et [ZirvoService.Service_Busy = True]");
      }
    });
  });
  logged([&] {
    if (Debug()) Log("Timer.Finally atteint à " + Now());
  });
  steps_.busy = false;
  logged([&] {
    Guarded("Error in TimerServiceOnTimer [ZirvoService.Service_Busy:=false]: ", [&] {
      if (Debug()) Log("[ZirvoService.Service_Busy = False] à " + Now());
    });
  });
  steps_.sqlServer.Close();
  steps_.timer.SetEnabled(true);
  logged([&] {
    if (Debug()) {
      Log(std::string(steps_.timer.Enabled() ? "Fin de traitement. Timer actif, toutes les "
                                             : "Fin de traitement. Timer non actif, toutes les ") +
          std::to_string(steps_.timer.Interval() / 1000) + " secondes à " + Now());
    }
  });
  if (logFailure) std::rethrow_exception(logFailure);
  if (escaping) std::rethrow_exception(escaping);
}

void TimerCycle::Run() {
  if (!Preamble()) return;
  std::exception_ptr escaping;
  try {
    try {
      Work();
    } catch (const Exception& error) {
      steps_.handleDatabaseError(error);
      steps_.busy = false;
      if (Debug()) Log("Timer.Except atteint à " + Now());
    }
  } catch (...) {
    // Raised by the handler above or of another class than Exception: the closing
    // block runs first, then the error goes on to the host.
    escaping = std::current_exception();
  }
  Closing(escaping);
}

}  // namespace

std::string MSSQLConnectionFailureLine(std::u16string_view connectionString) {
  const auto masked = MaskPassword(connectionString, 2);
  return "Echec de la connexion ADO_MSSQL : " + platform::WideToAnsi(masked.shown) +
         (masked.hasPassword ? "" : " - PAS DE MOT DE PASSE");
}

void RunTimerCycle(const TimerCycleSteps& steps) { TimerCycle(steps).Run(); }

}  // namespace zirvo::service

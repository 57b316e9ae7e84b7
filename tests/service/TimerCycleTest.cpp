// The timer cycle on real parts: an SQLite file as the SQL Server database, the test
// MariaDB server behind the data source "QuenzarMySQLDB", a scripted HTTP peer as the
// remote access code endpoint. Only the address watcher's source and the delivery check
// are stood in for.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>

#include "config/Common.h"
#include "config/IniFile.h"
#include "db/Backends.h"
#include "host/FakeServiceManager.h"
#include "net/PeerFixtures.h"
#include "peers/MariaDbServer.h"
#include "service/MainService.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

namespace zirvo::service {
namespace {

using Clock = std::chrono::steady_clock;
using config::ScramblePassword;
using namespace std::chrono_literals;

class CycleService : public TZirvoService {
 public:
  using TZirvoService::TZirvoService;

  void LireConfiguration() override {
    if (failingReads > 0) {
      --failingReads;
      throw Exception("fichier illisible");
    }
    TZirvoService::LireConfiguration();
  }
  void ActualizeSQLServiceState() override {
    if (failingReport) throw Exception("table SMS_SENDED introuvable");
    TZirvoService::ActualizeSQLServiceState();
  }
  void CheckDelivery() override {
    ++deliveryChecks;
    databasesOpen = ADO_MSSQLConnection.Connected() && ADO_MySQLConnection.Connected();
    if (onDelivery) onDelivery();
    if (!deliveryFailure.empty()) throw Exception(deliveryFailure);
  }
  void TimerServiceOnTimer(host::ServiceTimer& sender) override {
    const auto start = Clock::now();
    TZirvoService::TimerServiceOnTimer(sender);
    std::lock_guard<std::mutex> lock(mutex);
    cycles.emplace_back(start, Clock::now());
  }

  std::atomic<int> failingReads{0};
  std::atomic<bool> failingReport{false};
  std::atomic<int> deliveryChecks{0};
  std::atomic<bool> databasesOpen{false};
  std::string deliveryFailure;
  std::function<void()> onDelivery;
  std::mutex mutex;
  std::vector<std::pair<Clock::time_point, Clock::time_point>> cycles;
};

class TimerCycleTest : public ::testing::Test {
 protected:
  TimerCycleTest()
      : manager_(system_),
        host_({}, test::FakeEnvironment(system_, manager_)),
        service_(host_.CreateService<CycleService>(LogWriter(dir_.File("ZirvoSrv.log")))) {
    service_.SetExecutablePath(dir_.File("ZirvoSrv"));
    // The cycle's waits are noted, not sat through.
    service_.SetWaitPassage([this](std::chrono::milliseconds wait) { waits_.push_back(wait); });
    service_.IdIPWatch1 = net::IPWatch([this] {
      if (onAddress_) onAddress_();
      return std::vector<platform::AdapterAddress>{{false, address_, "255.255.255.0"}};
    });
  }

  // `main` is the body of section Main, `more` further sections, `kernel` more keys of
  // section DBKERNEL; the stored access code is the MariaDB user's unless `more` has its
  // own section DBConnexion.
  void WriteSettings(const std::string& main, const std::string& more = "",
                     const std::string& database = "", const std::string& kernel = "") {
    const std::string accessCode =
        more.find("[DBConnexion]") == std::string::npos
            ? "[DBConnexion]\r\nMySQLDBPwd=" + ScramblePassword(test::MariaDbServer::kPassword) +
                  "\r\n"
            : "";
    test::WriteFileBytes(dir_.File("ZirvoSrv.ini"),
                         "[Main]\r\n" + main + "[ODBC]\r\nSQLServerDriver=SQLite3\r\n" +
                             accessCode + more + "[DBKERNEL]\r\nServerName=" +
                             (database.empty() ? database_.File() : database) + "\r\n" + kernel);
  }
  void Tick() { service_.TimerServiceOnTimer(service_.TimerService); }

  std::vector<std::string> Log() const { return test::LogMessages(dir_.File("ZirvoSrv.log")); }
  long Count(const std::string& prefix) const {
    const auto log = Log();
    return std::count_if(log.begin(), log.end(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  }
  // Every prefix starts a line of the log, in this order (other lines may come between).
  void ExpectInOrder(const std::vector<std::string>& prefixes) const {
    const auto log = Log();
    auto at = log.begin();
    for (const auto& prefix : prefixes) {
      at = std::find_if(at, log.end(),
                        [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
      ASSERT_NE(at, log.end()) << "missing, or out of order: " << prefix;
      ++at;
    }
  }
  void ExpectIdleAndArmed() const {
    EXPECT_TRUE(service_.TimerService.Enabled());
    EXPECT_FALSE(service_.Service_Busy);
    EXPECT_FALSE(service_.ADO_MSSQLConnection.Connected());
  }

  test::TempDir dir_;
  test::SqliteDatabase database_;
  test::FakeSystem system_;
  test::FakeServiceManager manager_;
  host::ServiceHost host_;
  CycleService& service_;
  std::string address_ = "192.0.2.10";
  std::function<void()> onAddress_;
  std::vector<std::chrono::milliseconds> waits_;
};

constexpr char kDebug[] = "DebugMode=1\r\n";
constexpr char kQuiet[] = "DebugMode=0\r\n";

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::vector<std::string> kClosingAfterNormalEnd = {
    "Timer.Finally atteint à ", "Timer.Finally atteint à ",
    "[ZirvoService.Service_Busy = False] à ",
    "Fin de traitement. Timer actif, toutes les 3600 secondes à "};

TEST_F(TimerCycleTest, TheLoopbackAddressEndsTheWorkBeforeTheMySqlSetUp) {
  WriteSettings(kDebug);
  service_.SetStatus(host::ServiceStatus::csPaused);
  address_ = "127.0.0.1";
  Tick();
  ExpectInOrder(
      {"Exécution du timer à ", "Le service est en pause à ", "Le service is csRunning à ",
       "Désactivation du timer effectuée.", "Connexion MSSQL réussie.", "Attente de 1 seconde(s).",
       "ADO_MSSQLConnection.Connected = True -> UpgradeDB...", "ActualizeSQLServiceState; ...",
       "Erreur : la connexion internet n'est pas active."});
  ExpectInOrder(kClosingAfterNormalEnd);
  EXPECT_EQ(Count("Timer.Finally atteint à "), 2);
  EXPECT_EQ(Count("Lecture des paramètres du proxy"), 0);
  EXPECT_EQ(service_.deliveryChecks, 0);
  EXPECT_EQ(service_.ADO_MySQLConnection.ConnectionString(), db::kMySQLCreationConnectionString);
  ExpectIdleAndArmed();

  // Without debug mode the missing network is still told, on every cycle.
  WriteSettings(kQuiet);
  Tick();
  EXPECT_EQ(Count("Erreur : la connexion internet n'est pas active."), 2);
  EXPECT_EQ(waits_.size(), 2u) << "only the wait after the SQL Server connection, per cycle";
  ExpectIdleAndArmed();
}

TEST_F(TimerCycleTest, AnSqlServerFailureShowsTwoPasswordCharactersOrSaysThereIsNone) {
  const std::string absent = dir_.File("absent.db");
  WriteSettings(kDebug, "", absent, "SAPW=" + ScramblePassword("Geheim") + "\r\n");
  Tick();
  WriteSettings(kDebug, "", absent);
  Tick();
  WriteSettings(kQuiet, "", absent);
  Tick();
  const auto log = Log();
  std::vector<std::string> failures;
  for (const auto& line : log) {
    if (line.rfind("Echec de la connexion ADO_MSSQL : Provider=MSOLEDBSQL.1;", 0) == 0) {
      failures.push_back(line);
    }
  }
  ASSERT_EQ(failures.size(), 2u) << "one line per debug cycle";
  EXPECT_TRUE(failures[0].ends_with(";Data Source=" + absent + ";User ID=sa;Password=Ge"))
      << failures[0];
  EXPECT_TRUE(failures[1].ends_with(";Data Source=" + absent + "; - PAS DE MOT DE PASSE"))
      << failures[1];
  EXPECT_EQ(Count("! "), 3) << "every failure goes to the error handler";
  EXPECT_EQ(Count("Attente de 1"), 0);
  EXPECT_EQ(Count("Timer.Finally atteint à "), 4);
  ExpectIdleAndArmed();

  EXPECT_EQ(MSSQLConnectionFailureLine(u"Data Source=\u00e9;password=a"),
            "Echec de la connexion ADO_MSSQL : Data Source=\u00e9;password=a");
  EXPECT_EQ(MSSQLConnectionFailureLine(u"pwd=x"),
            "Echec de la connexion ADO_MSSQL : pwd=x - PAS DE MOT DE PASSE");
}

TEST_F(TimerCycleTest, ABusyServiceSkipsTheTickAndAFailedStateReportLeavesIt) {
  WriteSettings(kDebug);
  service_.TimerService.SetEnabled(true);
  service_.Service_Busy = true;
  service_.failingReads = 1;
  Tick();  // DebugMode is still off: the failed settings read did not set it.
  auto log = Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "Erreur lors de la lecture de la configuration : fichier illisible");
  EXPECT_TRUE(log[2].starts_with("Service occupé à "));
  Tick();
  log = Log();
  EXPECT_TRUE(log.back().starts_with("Service occupé à "));
  ExpectInOrder({"Service occupé à ", "Exécution du timer à ", "Le service est occupé à ",
                 "Service occupé à "});
  EXPECT_EQ(Count("Désactivation"), 0);
  EXPECT_TRUE(service_.TimerService.Enabled());
  EXPECT_TRUE(service_.Service_Busy);

  service_.Service_Busy = false;
  service_.failingReport = true;
  EXPECT_THROW(Tick(), Exception);
  EXPECT_EQ(Count("Exécution du timer à "), 1);
  EXPECT_TRUE(service_.TimerService.Enabled());
}

TEST_F(TimerCycleTest, ATickAfterTheStopOnlySaysSo) {
  WriteSettings(kDebug);
  std::atomic<bool> ticked{false};
  service_.SetOnExecute([this, &ticked](host::ServiceFrame& sender) {
    service_.ServiceExecute(sender);
    // The service thread has been told to end but is still alive: a tick now sees it.
    auto done = std::make_shared<std::promise<void>>();
    host_.Post([this, done] {
      Tick();
      done->set_value();
    });
    ticked = done->get_future().wait_for(10s) == std::future_status::ready;
  });
  {
    test::HostRunner runner(host_, manager_);
    ASSERT_TRUE(system_.WaitForState(4));
    manager_.Send(host::kControlStop);
    EXPECT_EQ(runner.Join(), 0);
  }
  ASSERT_TRUE(ticked);
  ExpectInOrder({"Exécution du timer à ", "Le service est arrêté à ", "Service terminé à "});
  EXPECT_TRUE(Log().back().starts_with("Service terminé à "));
  EXPECT_TRUE(service_.TimerService.Enabled());
  EXPECT_FALSE(service_.Service_Busy);

  // The run is over: no thread is told to end any more, yet the service is still stopped
  // and a late tick must not start the work.
  ASSERT_FALSE(service_.Terminated());
  Tick();
  EXPECT_EQ(Count("Service terminé à "), 2);
  EXPECT_TRUE(Log().back().starts_with("Service terminé à "));
}

TEST_F(TimerCycleTest, AFullCycleDownloadsTheAccessCodeAndOpensBothDatabases) {
  test::SharedMariaDb();
  test::ScriptedPeer peer({{Ok(ScramblePassword(test::MariaDbServer::kPassword)), "keep"},
                           {Ok(ScramblePassword("3306"))}});
  ASSERT_NE(peer.Port(), 0);
  WriteSettings(kDebug, "[DBConnexion]\r\nMySQLDBPwd=\r\n[Endpoints]\r\nAccessCodeHost=" +
                            peer.Base() + "\r\n");
  int lookups = 0;
  onAddress_ = [&lookups] { ++lookups; };
  Tick();

  EXPECT_EQ(config::AccessCodeUrl(peer.Base()), "http://" + peer.Base() + "/connexion");
  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].starts_with("GET /connexion HTTP/1.1\r\n"));
  EXPECT_TRUE(requests[1].starts_with("GET /connexionport HTTP/1.1\r\n"));
  ExpectInOrder({"Connexion MSSQL réussie.",
                 ("Connexion internet active - récupération du password à partir de 192.0.2.10 / "
                  "IdIPWatch1"),
                 "Lecture des paramètres du proxy terminée.",
                 "Code d'accès au serveur internet téléchargé.", "InitMySQLDB terminé.",
                 "Test des paramètres du proxy terminée.",
                 "Paramétrage de la connexion MySQL par CheckProxy réussie.",
                 "Connexion MySQL réussie.", "Attente de 1 seconde(s)."});
  ExpectInOrder(kClosingAfterNormalEnd);
  EXPECT_EQ(lookups, 2) << "the debug line asks for the address again";
  EXPECT_EQ(waits_, (std::vector<std::chrono::milliseconds>{1s, 1s}))
      << "one second after each database opens";
  EXPECT_EQ(service_.deliveryChecks, 1);
  EXPECT_TRUE(service_.databasesOpen);
  EXPECT_EQ(service_.CurrentSettings()->MySQLDBPwd, "") << "the downloaded code is not kept";
  const config::IniFile settings(dir_.File("ZirvoSrv.ini"));
  for (const char* key :
       {"HTTPServer", "HTTPUserName", "HTTPPassword", "HTTPPort", "HTTPBasicAuthentification"}) {
    EXPECT_EQ(settings.ReadString("Proxy", key, "(absent)"), "") << key;
  }
  // The MySQL connection stays open until the next cycle's set-up.
  EXPECT_TRUE(service_.ADO_MySQLConnection.Connected());
  ExpectIdleAndArmed();
}

TEST_F(TimerCycleTest, WithoutDebugModeACycleWritesNoLineOfItsOwn) {
  test::SharedMariaDb();
  WriteSettings(kQuiet);
  Tick();
  EXPECT_EQ(service_.deliveryChecks, 1);
  EXPECT_TRUE(service_.databasesOpen);
  // Only the settings read's unconditional warning (the SQLite login has no password),
  // once per settings read.
  const std::string warning =
      "!! LireConfiguration : mot de passe de connexion MSSQL vide après décodage";
  EXPECT_EQ(Log(), (std::vector<std::string>{"TZirvoService.ServiceCreate...", warning, warning}));
  ExpectIdleAndArmed();

  // A refused MySQL login: the error handler's line, then the cycle's own.
  WriteSettings(kQuiet, "[DBConnexion]\r\nMySQLDBPwd=" + ScramblePassword("falsch") + "\r\n");
  Tick();
  EXPECT_EQ(service_.deliveryChecks, 1);
  const auto log = Log();
  const auto refused = std::find_if(log.begin(), log.end(), [](const std::string& line) {
    return line.starts_with("Erreur : ") && line.find("Access denied") != std::string::npos;
  });
  ASSERT_NE(refused, log.end());
  EXPECT_NE(std::find(log.begin(), refused, "! " + refused->substr(9)), refused);
  ExpectIdleAndArmed();
}

TEST_F(TimerCycleTest, AReadOnlySettingsFileStillGivesWholeCyclesAndOneLineEach) {
  test::SharedMariaDb();
  WriteSettings(kQuiet + std::string("Interval=7\r\n"));
  test::MakeReadOnly(dir_.File("ZirvoSrv.ini"));
  const std::string before = test::ReadFileBytes(dir_.File("ZirvoSrv.ini"));
  Tick();
  Tick();
  EXPECT_EQ(service_.deliveryChecks, 2) << "the proxy keys that cannot be added stop nothing";
  EXPECT_EQ(service_.TimerService.Interval(), 7000u);
  EXPECT_EQ(Count("Erreur lors de la lecture de la configuration - étape 1 : Unable to write to " +
                  dir_.File("ZirvoSrv.ini")),
            2)
      << "once per cycle";
  EXPECT_EQ(test::ReadFileBytes(dir_.File("ZirvoSrv.ini")), before);
  ExpectIdleAndArmed();
}

TEST_F(TimerCycleTest, AnAbandonedSettingsReadEndsTheCycleBeforeAnyDatabase) {
  WriteSettings(kDebug);
  address_ = "127.0.0.1";
  Tick();
  ASSERT_EQ(Count("Connexion MSSQL réussie."), 1);
  // The desktop files are asked for but name no SQL Server folder: the login of the
  // previous cycle must not be used.
  test::WriteFileBytes(dir_.File("Varnox.ini"), "[Database]\r\nServer=\r\n");
  WriteSettings(kDebug + std::string("UseVarnox_ini=1\r\n"));
  Tick();
  EXPECT_EQ(Count("Le chemin de la base de données de Quenzar SQL n'est pas paramétré "
                  "(SQLServerDir=[]). Abandon de la procédure."),
            2);
  EXPECT_EQ(Count("Connexion MSSQL réussie."), 1);
  EXPECT_EQ(Count("Echec de la connexion ADO_MSSQL"), 0);
  EXPECT_EQ(Count("Fin de traitement. Timer actif"), 2) << "the closing block runs as usual";
  ExpectIdleAndArmed();
}

TEST_F(TimerCycleTest, AFailingDeliveryCheckIsHandledAndTheNextCycleComesOneIntervalLater) {
  test::SharedMariaDb();
  WriteSettings("DebugMode=1\r\nInterval=1\r\n");
  service_.deliveryFailure = "panne de la passerelle";
  // The stop comes from inside the second cycle, so that no settings read of a cycle
  // runs beside the stop's state report.
  service_.onDelivery = [this] {
    if (service_.deliveryChecks == 2) manager_.Send(host::kControlStop);
  };
  Clock::time_point running;
  {
    test::HostRunner runner(host_, manager_);
    ASSERT_TRUE(system_.WaitForState(4));
    running = Clock::now();
    ASSERT_TRUE(system_.WaitForState(1, 1, 20s));
    EXPECT_EQ(runner.Join(), 0);
  }
  ASSERT_GE(service_.deliveryChecks, 2);
  std::lock_guard<std::mutex> lock(service_.mutex);
  ASSERT_GE(service_.cycles.size(), 2u);
  EXPECT_GE(service_.cycles[0].first - running, 900ms) << "no cycle at start";
  EXPECT_GE(service_.cycles[1].first - service_.cycles[0].second, 900ms)
      << "the interval counts from the end of the previous cycle";
  ExpectInOrder({"! panne de la passerelle", "Timer.Except atteint à ", "Timer.Finally atteint à ",
                 "[ZirvoService.Service_Busy = False] à ",
                 "Fin de traitement. Timer actif, toutes les 1 secondes à "});
  EXPECT_EQ(Count("Timer.Finally atteint à "), Count("Timer.Except atteint à "))
      << "after the handler the busy addition is not written";
  EXPECT_EQ(Count("Timer.Finally atteint à "), Count("Fin de traitement."));
}

TEST_F(TimerCycleTest, ALogThatFailsAtTheEndStillLeavesTheTimerArmed) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const std::string logFile = dir_.File("ZirvoSrv.log");
  std::filesystem::rename(logFile, dir_.File("before.log"));
  std::filesystem::create_symlink(dir_.File("before.log"), logFile);
  WriteSettings(kDebug);
  address_ = "127.0.0.1";
  onAddress_ = [&] {
    std::filesystem::remove(logFile);
    std::filesystem::create_symlink("/dev/full", logFile);
  };
  EXPECT_NO_THROW(Tick()) << "a line the disk cannot take is lost, the cycle goes on";
  ExpectIdleAndArmed();
}

}  // namespace
}  // namespace zirvo::service

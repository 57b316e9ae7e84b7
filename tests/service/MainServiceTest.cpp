// The service object in the frame: its members at creation, the controller procedure and
// the lifecycle handlers' log lines, with the work they hand on replaced by test seams.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "base/Errors.h"
#include "host/FakeServiceManager.h"
#include "service/MainService.h"
#include "support/LogLines.h"
#include "support/TempDir.h"

namespace zirvo::service {
namespace {

using host::ServiceStatus;
using test::FakeServiceManager;
using test::FakeSystem;
using test::HostRunner;

constexpr std::uint32_t kRunning = 4, kPaused = 7, kStopped = 1;

class SeamService : public TZirvoService {
 public:
  SeamService(host::ServiceHost& host, LogWriter log) : TZirvoService(host, std::move(log)) {}

  std::atomic<int> reads{0}, reports{0};
  std::string readFailure;
  std::atomic<bool> reportFails{false};

  void LireConfiguration() override {
    ++reads;
    if (!readFailure.empty()) throw Exception(readFailure);
  }
  void ActualizeSQLServiceState() override {
    ++reports;
    if (reportFails) throw Exception("table SMS_SENDED introuvable");
  }
};

class MainServiceTest : public ::testing::Test {
 protected:
  MainServiceTest()
      : manager(system),
        host({}, test::FakeEnvironment(system, manager)),
        service(host.CreateService<SeamService>(LogWriter(directory.File("ZirvoSrv.log")))) {}
  void DebugOn() {
    auto settings = std::make_shared<config::Settings>(*service.CurrentSettings());
    settings->DebugMode = true;
    service.PublishSettings(std::move(settings));
  }

  std::vector<std::string> LogMessages() const {
    return test::LogMessages(directory.File("ZirvoSrv.log"));
  }

  test::TempDir directory;
  FakeSystem system;
  FakeServiceManager manager;
  host::ServiceHost host;
  SeamService& service;
};

TEST_F(MainServiceTest, IsCreatedAsTheFormDescribesIt) {
  EXPECT_EQ(ZirvoService, &service);
  EXPECT_EQ(service.Name(), "ZirvoService");
  EXPECT_EQ(service.DisplayName(), "Quenzar - Service de gestion des SMS");
  EXPECT_EQ(service.ServiceStartName(), "ZirvoService");
  EXPECT_EQ(service.Password(), "");
  EXPECT_TRUE(service.AllowStop());
  EXPECT_TRUE(service.AllowPause());
  EXPECT_EQ(service.WaitHint(), 5000u);
  EXPECT_EQ(service.GetStartType(), host::StartType::stAuto);
  EXPECT_FALSE(service.TimerService.Enabled());
  EXPECT_EQ(service.TimerService.Interval(), 1000u);
  EXPECT_FALSE(service.Service_Busy);
  EXPECT_FALSE(service.ADO_MSSQLConnection.Connected());
  const db::TSQLServerSettings& sc = service.CurrentSettings()->SC;
  EXPECT_TRUE(sc.ServerName.empty() && sc.DatabaseName.empty() && sc.UserName.empty() &&
              sc.Password.empty());
  EXPECT_EQ(service.GetServiceController(), &ServiceController);
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"TZirvoService.ServiceCreate..."});
}

TEST_F(MainServiceTest, LogsEveryLifecycleEventAndEnablesTheTimerWhenRunning) {
  {
    HostRunner runner(host, manager);
    ASSERT_TRUE(system.WaitForState(kRunning));
    // ServiceExecute enables the timer just after running is reported.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!service.TimerService.Enabled() && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(service.TimerService.Enabled());
    // The controller procedure reaches the service through the global.
    ServiceController(host::kControlPause);
    ASSERT_TRUE(system.WaitForState(kPaused));
    manager.Send(host::kControlContinue);
    ASSERT_TRUE(system.WaitForState(kRunning, 2));
    manager.Send(host::kControlStop);
    EXPECT_EQ(runner.Join(), 0);
  }
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{
                               "TZirvoService.ServiceCreate...",
                               "TZirvoService.ServiceStart...",
                               "Lecture de la configuration...",
                               "TZirvoService.ServiceExecute...",
                               "Service SMS mis en pause...",
                               "ZirvoService en cours (ServiceContinue)...",
                               "TZirvoService.Stop...",
                           }));
  EXPECT_EQ(service.reads, 1);
  // Start, pause, continue, and twice in the stop.
  EXPECT_EQ(service.reports, 5);
  // ServiceStart reports the status itself: one more start pending report.
  const auto states = system.States();
  ASSERT_GE(states.size(), 4u);
  EXPECT_EQ((std::vector<std::uint32_t>(states.begin(), states.begin() + 4)),
            (std::vector<std::uint32_t>{2, 2, 2, kRunning}));
  EXPECT_TRUE(system.Events().empty());
}

TEST_F(MainServiceTest, DebugModeAddsItsLines) {
  DebugOn();
  {
    HostRunner runner(host, manager);
    ASSERT_TRUE(system.WaitForState(kRunning));
    manager.Send(host::kControlPause);
    manager.Send(host::kControlContinue);
    manager.Send(host::kControlStop);
    EXPECT_EQ(runner.Join(), 0);
  }
  service.ServiceDestroy(service);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{
                               "TZirvoService.ServiceCreate...",
                               "TZirvoService.ServiceStart...",
                               "Lecture de la configuration...",
                               "Service en cours de démarrage...",
                               "ZirvoServiceStart : le service n'est pas en cours d'exécution.",
                               "TZirvoService.ServiceExecute...",
                               "Service SMS mis en pause...",
                               "ActualizeSQLServiceState : état du timer : actif",
                               "ZirvoService en cours (ServiceContinue)...",
                               "ZirvoService en cours (ServiceContinue)...",
                               "TZirvoService.Stop...",
                               "ZirvoService mis en pause...",
                               "ActualizeSQLServiceState : état du timer : actif",
                               "TZirvoService.ServiceDestroy...",
                               "ZirvoService en cours de destruction...",
                           }));
}

TEST_F(MainServiceTest, AFailedSettingsReadIsLoggedAndTheStartGoesOn) {
  service.readFailure = "fichier illisible";
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  manager.Send(host::kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  const auto messages = LogMessages();
  ASSERT_GE(messages.size(), 4u);
  EXPECT_EQ(messages[2], "Lecture de la configuration...");
  EXPECT_EQ(messages[3], "Erreur lors de la lecture de la configuration : fichier illisible");
  EXPECT_EQ(service.reports, 3);
}

TEST_F(MainServiceTest, AStateReportFailureAtStartEndsTheService) {
  service.reportFails = true;
  HostRunner runner(host, manager);
  EXPECT_EQ(runner.Join(), 0);
  const auto states = system.States();
  EXPECT_EQ(states.back(), kStopped);
  EXPECT_EQ(std::count(states.begin(), states.end(), kRunning), 0);
  ASSERT_EQ(system.Events().size(), 1u);
  EXPECT_EQ(system.Events()[0].source, "ZirvoService");
  EXPECT_EQ(system.Events()[0].text, "Service failed on start: table SMS_SENDED introuvable");
  EXPECT_FALSE(service.TimerService.Enabled());
}

TEST_F(MainServiceTest, StateReportFailuresAtPauseAndStop) {
  DebugOn();
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  service.reportFails = true;
  manager.Send(host::kControlPause);
  ASSERT_TRUE(system.WaitForEvents(1));
  EXPECT_EQ(system.Events()[0].text, "Service failed on pause: table SMS_SENDED introuvable");
  EXPECT_EQ(system.States().back(), kRunning);  // the previous status, restored
  // The stop guards its blocks: it logs and still stops.
  manager.Send(host::kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system.States().back(), kStopped);
  EXPECT_EQ(system.Events().size(), 1u);
  const auto messages = LogMessages();
  const std::vector<std::string> tail(messages.end() - 3, messages.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "TZirvoService.Stop...",
                      "Error in [if not ServiceStop.ZirvoService.Status in...] : table "
                      "SMS_SENDED introuvable",
                      "ActualizeSQLServiceState : état du timer : actif",
                  }));
}

TEST_F(MainServiceTest, AStopDuringACycleSkipsTheStateWorkButStillStops) {
  DebugOn();
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  service.Service_Busy = true;
  const int reportsBefore = service.reports;
  manager.Send(host::kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system.States().back(), kStopped);
  EXPECT_EQ(service.reports, reportsBefore + 1);
  const auto messages = LogMessages();
  const std::vector<std::string> tail(messages.end() - 2, messages.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "TZirvoService.Stop...",
                      "Arrêt du service des SMS impossible parce qu'il est occupé "
                      "(Service_Busy=True).",
                  }));
}

TEST_F(MainServiceTest, ShutdownLogsAndEndsTheService) {
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  manager.Send(host::kControlShutdown);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(LogMessages().back(), "ZirvoService en cours d'arrêt...");
  EXPECT_EQ(system.States().back(), kStopped);
}

TEST(MainServiceLifetimeTest, TheHostRunsServiceDestroyAndClearsTheGlobal) {
  test::TempDir directory;
  FakeSystem system;
  FakeServiceManager manager(system);
  {
    host::ServiceHost host({}, test::FakeEnvironment(system, manager));
    host.CreateService<TZirvoService>(LogWriter(directory.File("ZirvoSrv.log")));
    EXPECT_NE(ZirvoService, nullptr);
  }
  EXPECT_EQ(ZirvoService, nullptr);
  ServiceController(host::kControlStop);  // no service: nothing to forward to
  const std::string log = test::ReadFileBytes(directory.File("ZirvoSrv.log"));
  EXPECT_NE(log.find(" : TZirvoService.ServiceDestroy...\r\n"), std::string::npos);
}

}  // namespace
}  // namespace zirvo::service

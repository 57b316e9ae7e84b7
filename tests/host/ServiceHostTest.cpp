// The host: command-line switches, installation and uninstallation with their hooks and
// boxes, and the main loop with its posted tasks and timers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host/FakeServiceManager.h"
#include "host/ServiceFrame.h"
#include "host/ServiceHost.h"
#include "platform/SystemError.h"

namespace zirvo::host {
namespace {

using test::FakeServiceManager;
using test::FakeSystem;

class PlainService : public ServiceFrame {
 public:
  explicit PlainService(ServiceHost& host, std::string name) : ServiceFrame(host) {
    SetRegistration({.name = std::move(name)});
  }
  platform::ControllerEntry GetServiceController() override { return &Ignore; }
  static void Ignore(std::uint32_t) {}
};

TEST(CommandLineTest, SwitchesNeedASlashOrDashAndIgnoreCase) {
  EXPECT_TRUE(FindCmdLineSwitch({"-install"}, "INSTALL"));
  EXPECT_TRUE(FindCmdLineSwitch({"x", "/INSTALL"}, "INSTALL"));
  EXPECT_TRUE(FindCmdLineSwitch({"/Install", "/silent"}, "SILENT"));
  EXPECT_FALSE(FindCmdLineSwitch({"install"}, "INSTALL"));
  EXPECT_FALSE(FindCmdLineSwitch({"--install"}, "INSTALL"));
  EXPECT_FALSE(FindCmdLineSwitch({"-installer"}, "INSTALL"));
  EXPECT_FALSE(FindCmdLineSwitch({"-", "/"}, "INSTALL"));
  EXPECT_FALSE(FindCmdLineSwitch({}, "INSTALL"));
}

class InstallTest : public ::testing::Test {
 protected:
  std::unique_ptr<ServiceHost> MakeHost(std::vector<std::string> arguments) {
    auto host =
        std::make_unique<ServiceHost>(std::move(arguments), test::FakeEnvironment(system, manager));
    host->SetTitle("Titre");
    return host;
  }
  FakeSystem system;
  FakeServiceManager manager{system};
};

TEST_F(InstallTest, InstallRegistersEveryServiceWithItsSettingsAndHooks) {
  for (const char* argument : {"-install", "/INSTALL", "/Install"}) {
    system.messages.clear();
    manager.installations.clear();
    auto host = MakeHost({argument});
    auto& service = host->CreateService<PlainService>("Svc");
    service.SetRegistration({.name = "Svc",
                             .displayName = "Mon service",
                             .startName = "compte",
                             .startType = StartType::stBoot,
                             .errorSeverity = ErrorSeverity::esCritical,
                             .loadGroup = "groupe",
                             .dependencies = {"Autre", "+Groupe"},
                             .tagId = 3});
    std::vector<std::string> hooks;
    service.BeforeInstall = [&](ServiceFrame&) {
      hooks.push_back("before");
      EXPECT_TRUE(manager.installations.empty());
    };
    service.AfterInstall = [&](ServiceFrame&) {
      hooks.push_back("after");
      EXPECT_EQ(manager.installations.size(), 1u);
    };
    EXPECT_EQ(host->Run(), 0) << argument;
    EXPECT_EQ(hooks, (std::vector<std::string>{"before", "after"}));
    ASSERT_EQ(manager.installations.size(), 1u);
    const auto& installed = manager.installations[0].service;
    EXPECT_EQ(manager.installations[0].operation, "create");
    EXPECT_EQ(installed.name, "Svc");
    EXPECT_EQ(installed.displayName, "Mon service");
    EXPECT_EQ(installed.serviceType, platform::kServiceWin32OwnProcess);
    EXPECT_EQ(installed.startType, platform::kServiceAutoStart);  // boot becomes automatic
    EXPECT_EQ(installed.errorControl, 3u);
    EXPECT_EQ(installed.binaryPath, "/opt/zirvo/ZirvoSrv");
    EXPECT_EQ(installed.loadGroup, "groupe");
    EXPECT_EQ(installed.dependencies, (std::vector<std::string>{"Autre", "+Groupe"}));
    EXPECT_EQ(installed.startName, "compte");
    EXPECT_EQ(service.TagID(), 77u);  // the tag the manager assigned
    ASSERT_EQ(system.messages.size(), 1u);
    EXPECT_EQ(system.messages[0].first, platform::MessageKind::kInformation);
    EXPECT_EQ(system.messages[0].second,
              "Service installed successfully\nLe service « Mon service » est installé sous le "
              "compte « compte ».");
  }
}

TEST_F(InstallTest, AMissingAccountFallsBackToTheVirtualAccountWhichTheHooksSee) {
  auto environment = test::FakeEnvironment(system, manager);
  environment.accountExists = [](const std::string&) { return false; };
  environment.fallbackAccount = [](const std::string& name) { return "NT SERVICE\\" + name; };
  ServiceHost host({"-install"}, environment);
  auto& service = host.CreateService<PlainService>("Svc");
  service.SetRegistration({.name = "Svc",
                           .displayName = "Mon service",
                           .startName = "ZirvoService",
                           .password = "secret"});
  std::string seen;
  service.AfterInstall = [&](ServiceFrame& sender) { seen = sender.ServiceStartName(); };
  EXPECT_EQ(host.Run(), 0);
  ASSERT_EQ(manager.installations.size(), 1u);
  EXPECT_EQ(manager.installations[0].service.startName, "NT SERVICE\\Svc");
  EXPECT_EQ(manager.installations[0].service.password, "");
  EXPECT_EQ(seen, "NT SERVICE\\Svc");
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].second,
            "Service installed successfully\nLe compte « ZirvoService » n'existe pas : le service "
            "« Mon service » est installé sous son compte virtuel « NT SERVICE\\Svc ».");
}

TEST_F(InstallTest, SilentSuppressesOnlyTheSuccessBox) {
  {
    auto host = MakeHost({"/install", "/silent"});
    host->CreateService<PlainService>("Svc");
    EXPECT_EQ(host->Run(), 0);
    EXPECT_TRUE(system.messages.empty());
  }
  manager.createFailure = platform::kErrorInvalidServiceAccount;
  auto host = MakeHost({"-INSTALL", "-SILENT"});
  host->CreateService<PlainService>("Svc").SetRegistration(
      {.name = "Svc", .displayName = "Mon service"});
  EXPECT_EQ(host->Run(), 1);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].first, platform::MessageKind::kError);
  EXPECT_EQ(system.messages[0].second,
            "Service \"Mon service\" failed to install with error: \"System Error.  Code: "
            "1057.\r\n" +
                platform::SystemErrorText(1057) + "\"");
}

TEST_F(InstallTest, AFailingAfterInstallRemovesTheServiceAndTheOthersAreStillTried) {
  auto host = MakeHost({"-install"});
  auto& first = host->CreateService<PlainService>("Premier");
  first.AfterInstall = [](ServiceFrame&) { throw Exception("droits insuffisants"); };
  host->CreateService<PlainService>("Second");
  EXPECT_EQ(host->Run(), 1);
  ASSERT_EQ(manager.installations.size(), 3u);
  EXPECT_EQ(manager.installations[0].operation, "create");
  EXPECT_EQ(manager.installations[1].operation, "delete");
  EXPECT_EQ(manager.installations[1].service.name, "Premier");
  EXPECT_EQ(manager.installations[2].operation, "create");
  EXPECT_EQ(manager.installations[2].service.name, "Second");
  // Two services in one process share it.
  EXPECT_EQ(manager.installations[2].service.serviceType, platform::kServiceWin32ShareProcess);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].second,
            "Service \"Premier\" failed to install with error: \"droits insuffisants\"");
}

TEST_F(InstallTest, UninstallDeletesWithHooksAndReportsFailures) {
  {
    auto host = MakeHost({"/uninstall"});
    auto& service = host->CreateService<PlainService>("Svc");
    std::vector<std::string> hooks;
    service.BeforeUninstall = [&](ServiceFrame&) { hooks.push_back("before"); };
    service.AfterUninstall = [&](ServiceFrame&) { hooks.push_back("after"); };
    EXPECT_EQ(host->Run(), 0);
    EXPECT_EQ(hooks, (std::vector<std::string>{"before", "after"}));
    ASSERT_EQ(manager.installations.size(), 1u);
    EXPECT_EQ(manager.installations[0].operation, "delete");
    ASSERT_EQ(system.messages.size(), 1u);
    EXPECT_EQ(system.messages[0].second, "Service uninstalled successfully");
  }
  system.messages.clear();
  manager.deleteFailure = platform::kErrorServiceDoesNotExist;
  auto host = MakeHost({"/uninstall", "/silent"});
  host->CreateService<PlainService>("Svc");
  EXPECT_EQ(host->Run(), 1);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].second,
            "Service \"Svc\" failed to uninstall with error: \"System Error.  Code: 1060.\r\n" +
                platform::SystemErrorText(1060) + "\"");
}

TEST_F(InstallTest, AManagerThatCannotBeOpenedFailsEveryService) {
  manager.openFailure = 5;
  auto host = MakeHost({"-install"});
  host->CreateService<PlainService>("Svc");
  EXPECT_EQ(host->Run(), 1);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].first, platform::MessageKind::kError);
  EXPECT_EQ(system.messages[0].second.rfind("Service \"Svc\" failed to install with error: "
                                            "\"System Error.  Code: 5.\r\n",
                                            0),
            0u);
}

TEST_F(InstallTest, InstallWinsOverUninstallAndNothingIsDispatched) {
  auto host = MakeHost({"/uninstall", "/install"});
  host->CreateService<PlainService>("Svc");
  EXPECT_EQ(host->Run(), 0);
  ASSERT_EQ(manager.installations.size(), 1u);
  EXPECT_EQ(manager.installations[0].operation, "create");
  EXPECT_TRUE(system.Statuses().empty());
}

class MainLoopTest : public ::testing::Test {
 protected:
  MainLoopTest() : host({}, test::FakeEnvironment(system, manager)) {}
  void RunLoop() { EXPECT_EQ(host.Run(), 0); }
  FakeSystem system;
  FakeServiceManager manager{system};
  ServiceHost host;
};

TEST_F(MainLoopTest, TasksRunInOrderOnTheMainThreadAndFailuresGoToTheEventLog) {
  // With no service, the dispatcher returns at once and posts the quit; tasks posted
  // before it still run, in order, on the thread that runs the loop.
  std::vector<int> order;
  const auto mainThread = std::this_thread::get_id();
  bool onMainThread = true;
  for (int i = 0; i < 5; ++i) {
    host.Post([&, i] {
      order.push_back(i);
      onMainThread = onMainThread && std::this_thread::get_id() == mainThread;
      if (i == 2) throw Exception("tâche en échec");
    });
  }
  RunLoop();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(onMainThread);
  EXPECT_TRUE(host.Terminated());
  ASSERT_EQ(system.Events().size(), 1u);
  EXPECT_EQ(system.Events()[0].source, "ZirvoSrv");
  EXPECT_EQ(system.Events()[0].text, "tâche en échec");
}

TEST_F(MainLoopTest, TimersFireOnTheMainThreadWhileTheServiceRunsAndSurviveExceptions) {
  auto& service = host.CreateService<PlainService>("Svc");
  ServiceTimer timer(host);
  ServiceTimer silent(host);
  silent.SetInterval(5);
  silent.SetEnabled(true);  // no event handler: it never fires
  timer.SetInterval(10);
  std::atomic<int> fired{0};
  const auto mainThread = std::this_thread::get_id();
  std::atomic<bool> onMainThread{true};
  timer.OnTimer = [&](ServiceTimer&) {
    if (std::this_thread::get_id() != mainThread) onMainThread = false;
    ++fired;
    throw Exception("cycle en échec");
  };
  service.SetOnExecute([&](ServiceFrame&) {
    // Enabled from the service thread, as ServiceExecute does with TimerService.
    timer.SetEnabled(true);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fired < 3 && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    timer.SetEnabled(false);
  });
  EXPECT_EQ(host.Run(), 0);
  EXPECT_GE(fired, 3);
  EXPECT_TRUE(onMainThread);
  const auto events = system.Events();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0].source, "ZirvoSrv");
  EXPECT_EQ(events[0].text, "cycle en échec");
}

TEST_F(MainLoopTest, AnEnabledTimerWaitsOneFullIntervalAndRestartsWhenEnabledAgain) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kInterval = std::chrono::milliseconds(200);
  ServiceTimer timer(host);
  timer.SetInterval(200);
  Clock::time_point firedAt{};
  timer.OnTimer = [&](ServiceTimer& sender) {
    firedAt = Clock::now();
    sender.SetEnabled(false);
  };
  const auto enabledAt = Clock::now();
  timer.SetEnabled(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const bool stillEarly = Clock::now() - enabledAt < kInterval;
  host.ProcessMessages();
  // Only meaningful when the machine did not stall past the interval meanwhile.
  if (stillEarly) {
    EXPECT_EQ(firedAt, Clock::time_point{});
  }
  firedAt = {};
  const auto reenabledAt = Clock::now();
  timer.SetEnabled(true);  // the countdown starts afresh
  while (firedAt == Clock::time_point{} && Clock::now() - reenabledAt < std::chrono::seconds(10)) {
    host.ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_NE(firedAt, Clock::time_point{});
  EXPECT_GE(firedAt - reenabledAt, kInterval);
}

}  // namespace
}  // namespace zirvo::host

// The frame with test handlers: the manager, the event log and the boxes are played by
// the test (FakeServiceManager.h), the threads are the frame's own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "host/FakeServiceManager.h"
#include "host/ServiceFrame.h"
#include "host/ServiceHost.h"
#include "platform/SystemError.h"

namespace zirvo::host {
namespace {

using test::FakeServiceManager;
using test::FakeSystem;
using test::HostRunner;

constexpr std::uint32_t kStopped = 1, kStartPending = 2, kStopPending = 3, kRunning = 4,
                        kContinuePending = 5, kPausePending = 6, kPaused = 7;

class TestService : public ServiceFrame {
 public:
  explicit TestService(ServiceHost& host) : ServiceFrame(host) {
    SetRegistration({.name = "TestSvc"});
    instance.store(this);
  }
  ~TestService() override { instance.store(nullptr); }

  platform::ControllerEntry GetServiceController() override { return &Entry; }
  static void Entry(std::uint32_t code) {
    if (TestService* service = instance.load()) service->Controller(code);
  }

  std::function<void()> onInterrogate;
  std::function<void(std::uint32_t)> onCustom;
  // Work of the main loop that a stop must wait for.
  std::atomic<bool> working{false};

 protected:
  bool WorkInProgress() const override { return working.load(); }
  void DoInterrogate() override {
    if (onInterrogate) onInterrogate();
    ServiceFrame::DoInterrogate();
  }
  bool DoCustomControl(std::uint32_t code) override {
    if (onCustom) onCustom(code);
    return true;
  }

 private:
  static inline std::atomic<TestService*> instance{nullptr};
};

class ServiceFrameTest : public ::testing::Test {
 protected:
  ServiceFrameTest()
      : manager(system),
        host({}, test::FakeEnvironment(system, manager)),
        service(host.CreateService<TestService>()) {}

  // The states reported since the index-th report.
  std::vector<std::uint32_t> StatesFrom(std::size_t index) const {
    const auto states = system.States();
    return std::vector<std::uint32_t>(states.begin() + static_cast<long>(index), states.end());
  }

  FakeSystem system;
  FakeServiceManager manager;
  ServiceHost host;
  TestService& service;
};

TEST(CheckPointMemoryTest, CountsRepeatedPendingReportsAndResetsOnAnyOther) {
  CheckPointMemory memory;
  // Before any report the previous status counts as start pending.
  EXPECT_EQ(memory.Next(ServiceStatus::csStartPending), 1u);
  EXPECT_EQ(memory.Next(ServiceStatus::csStartPending), 2u);
  EXPECT_EQ(memory.Next(ServiceStatus::csRunning), 0u);
  EXPECT_EQ(memory.Next(ServiceStatus::csRunning), 0u);
  EXPECT_EQ(memory.Next(ServiceStatus::csPausePending), 0u);
  EXPECT_EQ(memory.Next(ServiceStatus::csPausePending), 1u);
  EXPECT_EQ(memory.Next(ServiceStatus::csStopPending), 0u);
  EXPECT_EQ(memory.Next(ServiceStatus::csStopPending), 1u);
  EXPECT_EQ(memory.Next(ServiceStatus::csStopPending), 2u);
  EXPECT_EQ(memory.Next(ServiceStatus::csStopped), 0u);

  CheckPointMemory fresh;
  EXPECT_EQ(fresh.Next(ServiceStatus::csRunning), 0u);
  EXPECT_EQ(fresh.Next(ServiceStatus::csStartPending), 0u);
}

TEST_F(ServiceFrameTest, RunsThroughTheLifecycleWithControlsAcceptedAndCheckPoints) {
  std::vector<std::string> seenArguments;
  std::atomic<bool> timerFiredWhilePaused{false};
  ServiceTimer timer(host);
  timer.SetInterval(20);
  timer.OnTimer = [&](ServiceTimer&) {
    if (service.Status() == ServiceStatus::csPaused) timerFiredWhilePaused = true;
  };
  std::thread::id startThread, executeThread;
  service.SetOnStart([&](ServiceFrame& sender, bool&) {
    startThread = std::this_thread::get_id();
    seenArguments = sender.Params();
    EXPECT_FALSE(sender.Terminated());
  });
  service.SetOnExecute([&](ServiceFrame& sender) {
    executeThread = std::this_thread::get_id();
    timer.SetEnabled(true);
    while (!sender.Terminated()) sender.ProcessServiceRequests(true);
  });
  manager.startArguments = {"-debug", "x"};
  {
    HostRunner runner(host, manager);
    ASSERT_TRUE(system.WaitForState(kRunning));
    manager.Send(kControlPause);
    ASSERT_TRUE(system.WaitForState(kPaused));
    // Pausing suspends the service thread only: the main loop's timer goes on.
    for (int i = 0; i < 200 && !timerFiredWhilePaused; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(timerFiredWhilePaused);
    manager.Send(kControlContinue);
    ASSERT_TRUE(system.WaitForState(kRunning, 2));
    manager.Send(kControlStop);
    EXPECT_EQ(runner.Join(), 0);
  }
  EXPECT_EQ(startThread, executeThread);
  EXPECT_EQ(seenArguments, (std::vector<std::string>{"TestSvc", "-debug", "x"}));
  EXPECT_FALSE(service.Terminated());
  EXPECT_TRUE(host.Terminated());

  const auto statuses = system.Statuses();
  const std::vector<std::uint32_t> expected{kStartPending, kStartPending, kRunning,
                                            kPausePending, kPaused,       kContinuePending,
                                            kRunning,      kStopPending,  kStopped};
  ASSERT_EQ(system.States(), expected);
  // The second start pending report follows the first: its check point is one more.
  EXPECT_EQ(statuses[1].checkPoint, statuses[0].checkPoint + 1);
  for (std::size_t i = 2; i < statuses.size(); ++i) {
    EXPECT_EQ(statuses[i].checkPoint, 0u) << "report " << i;
  }
  for (const auto& status : statuses) {
    EXPECT_EQ(status.controlsAccepted, status.currentState == kStartPending ? 0u : 7u);
    EXPECT_EQ(status.serviceType, platform::kServiceWin32OwnProcess);
    EXPECT_EQ(status.waitHint, 5000u);
    EXPECT_EQ(status.win32ExitCode, 0u);
  }
  EXPECT_TRUE(system.Events().empty());
}

TEST_F(ServiceFrameTest, RefusedRequestsRestoreAndReportThePreviousStatus) {
  std::atomic<bool> acceptStop{false};
  service.SetOnStop([&](ServiceFrame&, bool& stopped) { stopped = acceptStop.load(); });
  service.SetOnPause([&](ServiceFrame&, bool& paused) { paused = false; });
  std::atomic<bool> acceptContinue{true};
  service.SetOnContinue([&](ServiceFrame&, bool& continued) { continued = acceptContinue.load(); });
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  std::size_t mark = system.Statuses().size();

  manager.Send(kControlStop);
  ASSERT_TRUE(system.WaitForState(kRunning, 2));
  EXPECT_EQ(StatesFrom(mark), (std::vector<std::uint32_t>{kStopPending, kRunning}));
  EXPECT_FALSE(service.Terminated());

  mark = system.Statuses().size();
  manager.Send(kControlPause);
  ASSERT_TRUE(system.WaitForState(kRunning, 3));
  EXPECT_EQ(StatesFrom(mark), (std::vector<std::uint32_t>{kPausePending, kRunning}));

  // A refused continue while running leaves it running.
  acceptContinue = false;
  mark = system.Statuses().size();
  manager.Send(kControlContinue);
  ASSERT_TRUE(system.WaitForState(kRunning, 4));
  EXPECT_EQ(StatesFrom(mark), (std::vector<std::uint32_t>{kContinuePending, kRunning}));

  acceptStop = true;
  manager.Send(kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system.States().back(), kStopped);
  EXPECT_TRUE(system.Events().empty());
}

TEST_F(ServiceFrameTest, HandlerExceptionsGoToTheEventLogAndTheServiceGoesOn) {
  service.SetOnPause([](ServiceFrame&, bool&) { throw Exception("pause impossible"); });
  bool continueThrows = true;
  service.SetOnContinue([&](ServiceFrame&, bool&) {
    if (continueThrows) throw Exception("reprise impossible");
  });
  int stopCalls = 0;
  service.SetOnStop([&](ServiceFrame&, bool&) {
    if (++stopCalls == 1) throw Exception("arrêt impossible");
  });
  service.onInterrogate = [] { throw Exception("interrogation impossible"); };
  service.onCustom = [](std::uint32_t) { throw Exception("commande inconnue"); };

  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  std::size_t mark = system.Statuses().size();
  manager.Send(kControlPause);
  manager.Send(kControlContinue);
  manager.Send(kControlInterrogate);
  manager.Send(200);
  manager.Send(kControlStop);
  ASSERT_TRUE(system.WaitForEvents(5));
  // Every failure restores and reports the status the request found, also for an
  // interrogate and a custom code.
  EXPECT_EQ(StatesFrom(mark),
            (std::vector<std::uint32_t>{kPausePending, kRunning, kContinuePending, kRunning,
                                        kRunning, kRunning, kStopPending, kRunning}));
  const auto events = system.Events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].text, "Service failed on pause: pause impossible");
  EXPECT_EQ(events[1].text, "Service failed on continue: reprise impossible");
  EXPECT_EQ(events[2].text, "Service failed on interrogate: interrogation impossible");
  EXPECT_EQ(events[3].text, "Service failed in custom message(200): commande inconnue");
  EXPECT_EQ(events[4].text, "Service failed on stop: arrêt impossible");
  for (const auto& event : events) EXPECT_EQ(event.source, "TestSvc");

  manager.Send(kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system.States().back(), kStopped);
}

TEST_F(ServiceFrameTest, AFailingShutdownStillEndsTheService) {
  service.SetOnShutdown([](ServiceFrame&) { throw Exception("panne à l'arrêt"); });
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  manager.Send(kControlShutdown);
  EXPECT_EQ(runner.Join(), 0);
  const auto states = system.States();
  ASSERT_GE(states.size(), 2u);
  // No previous status is restored for a shutdown.
  EXPECT_EQ(states[states.size() - 2], kStopPending);
  EXPECT_EQ(states.back(), kStopped);
  ASSERT_EQ(system.Events().size(), 1u);
  EXPECT_EQ(system.Events()[0].text, "Service failed on shutdown: panne à l'arrêt");
}

TEST_F(ServiceFrameTest, StartFailuresEndTheServiceWithoutRunningIt) {
  std::atomic<int> executions{0};
  service.SetOnExecute([&](ServiceFrame&) { ++executions; });
  service.SetOnStart([](ServiceFrame&, bool&) { throw Exception("configuration absente"); });
  {
    HostRunner runner(host, manager);
    EXPECT_EQ(runner.Join(), 0);
  }
  EXPECT_EQ(system.States(), (std::vector<std::uint32_t>{kStartPending, kStartPending, kStopped}));
  ASSERT_EQ(system.Events().size(), 1u);
  EXPECT_EQ(system.Events()[0].text, "Service failed on start: configuration absente");
  EXPECT_EQ(executions, 0);
}

TEST_F(ServiceFrameTest, ARefusedStartReportsStoppedWithoutAnEntry) {
  service.SetOnStart([](ServiceFrame&, bool& started) { started = false; });
  HostRunner runner(host, manager);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system.States(), (std::vector<std::uint32_t>{kStartPending, kStartPending, kStopped}));
  EXPECT_TRUE(system.Events().empty());
}

TEST_F(ServiceFrameTest, AnExecuteFailureIsLoggedAndStoppedIsReported) {
  service.SetOnExecute([](ServiceFrame&) { throw Exception("boucle cassée"); });
  HostRunner runner(host, manager);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system.States().back(), kStopped);
  ASSERT_EQ(system.Events().size(), 1u);
  EXPECT_EQ(system.Events()[0].text, "Service failed on execute: boucle cassée");
}

TEST_F(ServiceFrameTest, ControlCodesInAnyOrderNeverLoseTheFinalStop) {
  std::atomic<int> interrogates{0};
  service.onInterrogate = [&] { ++interrogates; };
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  // Continue while running, pause while paused, storms of interrogates in between, and
  // a stop at the end of it all, sent from two threads at once.
  std::thread other([&] {
    for (int i = 0; i < 300; ++i) manager.Send(kControlInterrogate);
  });
  manager.Send(kControlContinue);
  manager.Send(kControlPause);
  manager.Send(kControlPause);
  for (int i = 0; i < 300; ++i) manager.Send(kControlInterrogate);
  manager.Send(kControlContinue);
  manager.Send(kControlContinue);
  manager.Send(kControlPause);
  other.join();
  manager.Send(kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(interrogates, 600);
  const auto states = system.States();
  EXPECT_EQ(states.back(), kStopped);
  EXPECT_EQ(states[states.size() - 2], kStopPending);
  // Every interrogate reports a steady status again, never a pending one.
  const auto statuses = system.Statuses();
  for (std::size_t i = 1; i < statuses.size(); ++i) {
    if (statuses[i].currentState == statuses[i - 1].currentState) {
      EXPECT_TRUE(statuses[i].currentState == kRunning || statuses[i].currentState == kPaused ||
                  statuses[i].currentState == kStartPending)
          << "report " << i;
      EXPECT_EQ(statuses[i].checkPoint,
                statuses[i].currentState == kStartPending ? statuses[i - 1].checkPoint + 1 : 0u);
    }
  }
  EXPECT_TRUE(system.Events().empty());
}

TEST_F(ServiceFrameTest, AStopThatComesWhileAHandlerRunsIsHandledAfterIt) {
  std::promise<void> pauseEntered;
  std::promise<void> releasePause;
  auto release = releasePause.get_future().share();
  service.SetOnPause([&](ServiceFrame&, bool&) {
    pauseEntered.set_value();
    release.wait();
  });
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  manager.Send(kControlPause);
  pauseEntered.get_future().wait();
  // The controller only queues: it returns while the pause handler still runs.
  manager.Send(kControlStop);
  manager.Send(kControlInterrogate);
  releasePause.set_value();
  EXPECT_EQ(runner.Join(), 0);
  const auto states = system.States();
  const std::vector<std::uint32_t> tail(states.end() - 5, states.end());
  EXPECT_EQ(tail, (std::vector<std::uint32_t>{kPausePending, kPaused, kStopPending, kStopPending,
                                              kStopped}));
}

TEST_F(ServiceFrameTest, CodesQueuedBehindAnAcceptedStopCannotHoldTheServiceUp) {
  std::promise<void> stopEntered;
  std::promise<void> releaseStop;
  auto release = releaseStop.get_future().share();
  int pauses = 0;
  service.SetOnPause([&](ServiceFrame&, bool&) { ++pauses; });
  service.SetOnStop([&](ServiceFrame&, bool&) {
    stopEntered.set_value();
    release.wait();
  });
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  manager.Send(kControlStop);
  stopEntered.get_future().wait();
  manager.Send(kControlPause);
  manager.Send(kControlContinue);
  manager.Send(kControlInterrogate);
  manager.Send(99);
  releaseStop.set_value();
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(pauses, 0);
  const auto states = system.States();
  const std::vector<std::uint32_t> tail(states.end() - 3, states.end());
  EXPECT_EQ(tail, (std::vector<std::uint32_t>{kStopPending, kStopPending, kStopped}));
}

TEST_F(ServiceFrameTest, AStopWaitsForTheWorkInProgressWithRisingCheckPoints) {
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  EXPECT_FALSE(service.Stopping());
  service.working = true;
  const std::size_t before = system.Statuses().size();
  manager.Send(kControlStop);
  // The request itself, the wait's first report, then one a second.
  ASSERT_TRUE(system.WaitForState(kStopPending, 3));
  EXPECT_TRUE(service.Stopping());
  EXPECT_TRUE(service.Terminated());
  EXPECT_EQ(StatesFrom(before),
            (std::vector<std::uint32_t>{kStopPending, kStopPending, kStopPending}));
  service.working = false;
  EXPECT_EQ(runner.Join(), 0);
  const auto statuses = system.Statuses();
  ASSERT_EQ(statuses.back().currentState, kStopped);
  for (std::size_t i = before; i + 1 < statuses.size(); ++i) {
    EXPECT_EQ(statuses[i].currentState, kStopPending);
    EXPECT_EQ(statuses[i].checkPoint, i - before) << "report " << i;
  }
  // Stopping outlives the run, so that no work starts again before the process ends.
  EXPECT_TRUE(service.Stopping());
  EXPECT_FALSE(service.Terminated());
}

TEST_F(ServiceFrameTest, AShutdownWaitsForTheWorkInProgressToo) {
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  service.working = true;
  manager.Send(kControlShutdown);
  ASSERT_TRUE(system.WaitForState(kStopPending, 2));
  EXPECT_TRUE(service.Stopping());
  EXPECT_FALSE(system.WaitForState(kStopped, 1, std::chrono::milliseconds(200)));
  service.working = false;
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system.States().back(), kStopped);
}

TEST_F(ServiceFrameTest, AStopQueuedDuringTheStartIsHandledOnceRunning) {
  std::promise<void> releaseStart;
  auto release = releaseStart.get_future().share();
  service.SetOnStart([&](ServiceFrame&, bool&) { release.wait(); });
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kStartPending, 2));
  manager.Send(kControlStop);
  releaseStart.set_value();
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system.States(), (std::vector<std::uint32_t>{kStartPending, kStartPending, kRunning,
                                                         kStopPending, kStopped}));
}

TEST_F(ServiceFrameTest, ManagerRefusalsAreWrittenWithTheSystemText) {
  manager.statusFailure = 5;
  service.SetOnStart([](ServiceFrame&, bool& started) { started = false; });
  HostRunner runner(host, manager);
  EXPECT_EQ(runner.Join(), 0);
  const auto events = system.Events();
  ASSERT_EQ(events.size(), 3u);  // start pending twice and stopped, each refused
  for (const auto& event : events) {
    EXPECT_EQ(event.text, platform::SystemErrorText(5));
    EXPECT_EQ(event.source, "TestSvc");
  }
}

TEST_F(ServiceFrameTest, AFailedRegistrationEndsTheServiceWithoutAReport) {
  manager.registrationFailure = 6;
  HostRunner runner(host, manager);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_TRUE(system.Statuses().empty());
  ASSERT_EQ(system.Events().size(), 1u);
  EXPECT_EQ(system.Events()[0].text, platform::SystemErrorText(6));
}

TEST_F(ServiceFrameTest, ADispatcherFailureIsWrittenUnderTheProgramNameAndFailsTheRun) {
  manager.dispatcherFailure = platform::kErrorFailedServiceControllerConnect;
  HostRunner runner(host, manager);
  EXPECT_EQ(runner.Join(), 1);
  ASSERT_EQ(system.Events().size(), 1u);
  EXPECT_EQ(system.Events()[0].source, "ZirvoSrv");
  EXPECT_EQ(system.Events()[0].text,
            platform::SystemErrorText(platform::kErrorFailedServiceControllerConnect));
}

TEST_F(ServiceFrameTest, SettingsFollowTheirCouplingRules) {
  EXPECT_EQ(service.DisplayName(), "TestSvc");
  const ServiceRegistration interactive{.name = "TestSvc", .interactive = true};
  service.SetRegistration(interactive);
  EXPECT_EQ(service.ManagerServiceType(),
            platform::kServiceWin32OwnProcess | platform::kServiceInteractiveProcess);
  service.SetServiceStartName("compte");
  EXPECT_FALSE(service.Interactive());
  // A record replaces the whole registration, the start name set since included.
  service.SetRegistration(interactive);
  EXPECT_EQ(service.ServiceStartName(), "");
  EXPECT_EQ(service.Password(), "");
  test::ChangeRegistration(service, [](ServiceRegistration& r) { r.password = "secret"; });
  EXPECT_FALSE(service.Interactive());
  test::ChangeRegistration(service, [](ServiceRegistration& r) { r.allowPause = false; });
  service.SetOnContinue([](ServiceFrame&, bool&) {});
  EXPECT_TRUE(service.AllowPause());
  service.SetOnStop([](ServiceFrame&, bool&) {});
  test::ChangeRegistration(service, [](ServiceRegistration& r) { r.allowStop = false; });
  EXPECT_TRUE(service.AllowStop());
  test::ChangeRegistration(service,
                           [](ServiceRegistration& r) { r.serviceType = ServiceType::stDevice; });
  EXPECT_EQ(service.ManagerServiceType(), platform::kServiceKernelDriver);
}

// Also run under ThreadSanitizer by the test script: the service's settings reads set the
// start name on another thread than the one that reports.
TEST_F(ServiceFrameTest, ServiceConcurrencyReportsKeepTheTypeTheRunBeganWith) {
  test::ChangeRegistration(service, [](ServiceRegistration& r) { r.interactive = true; });
  {
    HostRunner runner(host, manager);
    ASSERT_TRUE(system.WaitForState(kRunning));
    std::atomic<bool> reporting{true};
    std::thread settingsReads([&] {
      int i = 0;
      do {
        service.SetServiceStartName(++i % 2 ? "compte" : "autre");
      } while (reporting);
    });
    for (int i = 0; i < 50; ++i) manager.Send(kControlInterrogate);
    manager.Send(kControlStop);
    EXPECT_EQ(runner.Join(), 0);
    reporting = false;
    settingsReads.join();
  }
  EXPECT_FALSE(service.Interactive()) << "the change itself is kept for the next installation";
  for (const auto& status : system.Statuses()) {
    EXPECT_EQ(status.serviceType,
              platform::kServiceWin32OwnProcess | platform::kServiceInteractiveProcess);
  }
}

TEST_F(ServiceFrameTest, ExitCodesGoIntoEveryReport) {
  service.SetOnStart([](ServiceFrame& sender, bool&) { sender.SetWin32ErrCode(5); });
  service.SetOnStop([](ServiceFrame& sender, bool&) { sender.SetErrCode(42); });
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  manager.Send(kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  const auto statuses = system.Statuses();
  const auto& running = statuses[statuses.size() - 3];
  EXPECT_EQ(running.currentState, kRunning);
  EXPECT_EQ(running.win32ExitCode, 5u);
  EXPECT_EQ(running.serviceSpecificExitCode, 0u);
  // A service-specific code makes the Win32 code say so.
  EXPECT_EQ(statuses.back().currentState, kStopped);
  EXPECT_EQ(statuses.back().win32ExitCode, platform::kErrorServiceSpecificError);
  EXPECT_EQ(statuses.back().serviceSpecificExitCode, 42u);
}

TEST_F(ServiceFrameTest, ControlsAcceptedFollowAllowStopAndAllowPause) {
  test::ChangeRegistration(service, [](ServiceRegistration& r) { r.allowPause = false; });
  HostRunner runner(host, manager);
  ASSERT_TRUE(system.WaitForState(kRunning));
  manager.Send(kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system.Statuses().back().controlsAccepted,
            platform::kServiceAcceptStop | platform::kServiceAcceptShutdown);
}

}  // namespace
}  // namespace zirvo::host

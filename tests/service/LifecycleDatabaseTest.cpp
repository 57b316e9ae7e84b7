// The lifecycle handlers on a real database: the settings name an SQLite file as the SQL
// Server database, and the pause and stop handlers write their state rows into it when
// the connection is open, as it is during a cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "db/Backends.h"
#include "db/Query.h"
#include "host/FakeServiceManager.h"
#include "service/MainService.h"
#include "support/LogLines.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace zirvo::service {
namespace {

using test::FakeServiceManager;
using test::FakeSystem;
using test::HostRunner;

constexpr std::uint32_t kRunning = 4, kPaused = 7, kStopped = 1, kStopPending = 3;

// Stands in for the timer cycle: holds the connection open and Service_Busy set until
// the test lets it go.
class CycleHoldingService : public TZirvoService {
 public:
  using TZirvoService::TZirvoService;

  void TimerServiceOnTimer(host::ServiceTimer& timer) override {
    timer.SetEnabled(false);
    Service_Busy = true;
    ADO_MSSQLConnection.Open();
    std::unique_lock<std::mutex> lock(mutex_);
    inCycle_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
    Service_Busy = false;
    ADO_MSSQLConnection.Close();
  }
  bool WaitForCycle() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return inCycle_; });
  }
  void ReleaseCycle() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool inCycle_ = false;
  bool released_ = false;
};

struct StateRow {
  long long number;
  std::string text;
  bool operator==(const StateRow&) const = default;
};

class LifecycleDatabaseTest : public ::testing::Test {
 protected:
  LifecycleDatabaseTest()
      : manager_(system_),
        host_({}, test::FakeEnvironment(system_, manager_)),
        service_(host_.CreateService<CycleHoldingService>(LogWriter(dir_.File("ZirvoSrv.log")))) {
    service_.SetExecutablePath(dir_.File("ZirvoSrv"));
  }

  void WriteSettings(const std::string& main) {
    test::WriteFileBytes(dir_.File("ZirvoSrv.ini"), "[Main]\r\n" + main +
                                                        "[ODBC]\r\nSQLServerDriver=SQLite3\r\n"
                                                        "[DBKERNEL]\r\nServerName=" +
                                                        database_.File() + "\r\n");
  }

  std::vector<StateRow> StateRows() {
    auto connection = database_.NewConnection();
    connection->Open();
    db::Query query(*connection);
    query.SetText("SELECT ServiceNState, ServiceSState FROM SrvState ORDER BY Execution_date_time");
    query.Open();
    std::vector<StateRow> rows;
    for (; !query.Eof(); query.Next()) {
      rows.push_back({query.FieldAsInteger("ServiceNState"), query.FieldAsText("ServiceSState")});
    }
    return rows;
  }

  std::vector<std::string> Log() const { return test::LogMessages(dir_.File("ZirvoSrv.log")); }
  bool Logged(const std::string& message) const {
    const auto log = Log();
    return std::find(log.begin(), log.end(), message) != log.end();
  }

  test::TempDir dir_;
  test::SqliteDatabase database_;
  FakeSystem system_;
  FakeServiceManager manager_;
  host::ServiceHost host_;
  CycleHoldingService& service_;
};

TEST_F(LifecycleDatabaseTest, PauseAndStopWriteTheirRowsOnlyWhileTheConnectionIsOpen) {
  WriteSettings("DebugMode=1\r\n");
  HostRunner runner(host_, manager_);
  ASSERT_TRUE(system_.WaitForState(kRunning));
  EXPECT_TRUE(service_.ADO_MSSQLConnection.ConnectionString().find(u"Data Source=") !=
              std::u16string::npos);

  // Idle: the connection is closed between cycles, so a pause leaves no row.
  manager_.Send(host::kControlPause);
  ASSERT_TRUE(system_.WaitForState(kPaused));
  manager_.Send(host::kControlContinue);
  ASSERT_TRUE(system_.WaitForState(kRunning, 2));
  EXPECT_TRUE(StateRows().empty());
  EXPECT_TRUE(Logged("ActualizeSQLServiceState : ADO_MSSQLConnection.Connected=False"));

  // As during a cycle: the connection open, the pause and the stop record themselves.
  service_.ADO_MSSQLConnection.Open();
  manager_.Send(host::kControlPause);
  ASSERT_TRUE(system_.WaitForState(kPaused, 2));
  manager_.Send(host::kControlContinue);
  ASSERT_TRUE(system_.WaitForState(kRunning, 3));
  manager_.Send(host::kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_EQ(system_.States().back(), kStopped);

  EXPECT_EQ(StateRows(), (std::vector<StateRow>{{7, "Le service est en pause"},
                                                {7, "Le service des SMS est en pause"}}));
  EXPECT_TRUE(Logged("ActualizeSQLServiceState : ADO_MSSQLConnection.Connected=True"));
  EXPECT_TRUE(Logged("ZirvoService mis en pause..."));
}

TEST_F(LifecycleDatabaseTest, AStopDuringARunningCycleWritesNoRowAndStillStops) {
  WriteSettings("DebugMode=1\r\nInterval=1\r\n");
  HostRunner runner(host_, manager_);
  ASSERT_TRUE(system_.WaitForState(kRunning));
  ASSERT_TRUE(service_.WaitForCycle());
  ASSERT_TRUE(service_.ADO_MSSQLConnection.Connected());

  manager_.Send(host::kControlStop);
  // Stopped waits for the cycle: until it ends, stop pending is reported again.
  const bool stillPending = system_.WaitForState(kStopPending, 2);
  const bool stoppedEarly = system_.WaitForState(kStopped, 1, std::chrono::milliseconds(300));
  const auto rows = StateRows();
  EXPECT_TRUE(service_.Stopping());
  service_.ReleaseCycle();
  EXPECT_EQ(runner.Join(), 0);
  EXPECT_TRUE(stillPending);
  EXPECT_FALSE(stoppedEarly) << "stopped was reported while the cycle still ran";
  EXPECT_EQ(system_.States().back(), kStopped);
  EXPECT_TRUE(rows.empty());
  EXPECT_TRUE(
      Logged("Arrêt du service des SMS impossible parce qu'il est occupé "
             "(Service_Busy=True)."));
}

TEST_F(LifecycleDatabaseTest, AMissingStateTableIsLoggedAndThePauseGoesOn) {
  WriteSettings("DebugMode=0\r\n");
  {
    auto connection = database_.NewConnection();
    connection->Open();
    db::Query drop(*connection);
    drop.SetText("DROP TABLE SrvState");
    drop.Execute();
  }
  HostRunner runner(host_, manager_);
  ASSERT_TRUE(system_.WaitForState(kRunning));
  service_.ADO_MSSQLConnection.Open();
  manager_.Send(host::kControlPause);
  ASSERT_TRUE(system_.WaitForState(kPaused));
  manager_.Send(host::kControlStop);
  EXPECT_EQ(runner.Join(), 0);
  const auto log = Log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.rfind(
                                       "Impossible d'enregistrer l'état du service dans "
                                       "la base de données : ",
                                       0) == 0 &&
                                   line.find("SrvState") != std::string::npos;
                          }),
            1);
  EXPECT_TRUE(system_.Events().empty());
}

TEST_F(LifecycleDatabaseTest, TheStateReportAsksTheSystemForTheNamedService) {
  test::TempDir units, runtime;
  test::ScopedEnvironment unitDirectory("ZIRVOSRV_UNIT_DIR", units.Path().string());
  test::ScopedEnvironment runtimeDirectory("ZIRVOSRV_RUNTIME_DIR", runtime.Path().string());
  const std::string prefix =
      "ActualizeSQLServiceState : la base de données MSSQL n'est pas connectée. Etat du "
      "service : ";
  WriteSettings("DebugMode=1\r\nZirvoServiceName=ZirvoEssai\r\n");
  service_.LireConfiguration();
  EXPECT_EQ(service_.ServiceStartName(), "ZirvoEssai") << "the name read is the one registered";
  service_.ActualizeSQLServiceState();
  EXPECT_EQ(Log().back(), "État du timer : inactif");
  EXPECT_TRUE(Logged(prefix + "Le service est inexistant !"));

  test::WriteFileBytes(units.File("ZirvoEssai.service"), "[Unit]\n");
  service_.ActualizeSQLServiceState();
  EXPECT_TRUE(Logged(prefix + "Le service est stoppé"));

  const std::string ownPid = std::filesystem::read_symlink("/proc/self").string();
  test::WriteFileBytes(runtime.File("ZirvoEssai.status"), "State=4\nPid=" + ownPid + "\n");
  service_.ActualizeSQLServiceState();
  EXPECT_TRUE(Logged(prefix + "Le service est démarré"));
}

}  // namespace
}  // namespace zirvo::service

namespace zirvo::service {
namespace {

// Run under ThreadSanitizer by the test script: the service thread's state reports read
// the service name while the cycle's settings reads rewrite the settings.
TEST_F(LifecycleDatabaseTest, ServiceConcurrencyStateReportsDuringSettingsReads) {
  WriteSettings("DebugMode=1\r\nZirvoServiceName=ZirvoEssai\r\n");
  service_.LireConfiguration();
  std::atomic<bool> reading{true};
  std::thread reports([this, &reading] {
    while (reading) service_.ActualizeSQLServiceState();
  });
  for (int i = 0; i < 20; ++i) service_.LireConfiguration();
  reading = false;
  reports.join();
  EXPECT_TRUE(
      Logged("ActualizeSQLServiceState : la base de données MSSQL n'est pas connectée. "
             "Etat du service : Le service est inexistant !"));
}

}  // namespace
}  // namespace zirvo::service

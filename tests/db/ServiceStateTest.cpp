// The state report and the service status texts, with the service manager's answer
// injected and the database a real SQLite file.
#include "db/ServiceState.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "db/Backends.h"
#include "db/Connection.h"
#include "db/Query.h"

namespace zirvo::db {
namespace {

using Lines = std::vector<std::string>;

// A service manager that knows some services; the others are not installed.
ServiceStateQuery Manager(const std::map<std::string, std::uint32_t>& services) {
  return [services](const std::string& name,
                    const std::string& machine) -> std::optional<std::uint32_t> {
    if (!machine.empty()) return std::nullopt;
    auto found = services.find(name);
    if (found == services.end()) return std::nullopt;
    return found->second;
  };
}

TEST(ServiceStatusText, EveryStateCodeMissingServicesAndFailingQueries) {
  const auto manager = Manager({{"ZirvoService", 4}, {"Paused", 7}, {"Odd", 9}, {"Zero", 0}});
  EXPECT_EQ(ServiceStatusText("ZirvoService", "", manager), "Le service est démarré");
  EXPECT_EQ(ServiceStatusText("Paused", "", manager), "Le service est en pause");
  EXPECT_EQ(ServiceStatusText("Missing", "", manager), "Le service est inexistant !");
  EXPECT_EQ(ServiceStatusText("Odd", "", manager),
            "Etat du service inconnu ou service inexistant !");
  EXPECT_EQ(ServiceStatusText("Zero", "", manager),
            "Etat du service inconnu ou service inexistant !");
  EXPECT_EQ(
      ServiceStatusText("ZirvoService", "",
                        [](const std::string&, const std::string&) -> std::optional<std::uint32_t> {
                          throw Exception("Accès refusé");
                        }),
      "Le service est inexistant !");
  const Lines expected = {"Le service est stoppé",
                          "Le service est en cours de démarrage",
                          "Le service est en cours d'arrêt",
                          "Le service est démarré",
                          "Le service est en train d'être relancé après une opération continue",
                          "Le service est en train d'être relancé après une opération pause",
                          "Le service est en pause"};
  for (std::uint32_t code = 1; code <= 7; ++code)
    EXPECT_EQ(ServiceStateText(code), expected[code - 1]);
}

class StateReport : public ::testing::Test {
 protected:
  StateReportContext Context(bool debug) {
    return StateReportContext{
        *connection_,
        Log([this](const std::string& line) { log_.push_back(line); }, [debug] { return debug; }),
        [this] { return timerEnabled_; }, [this] { return serviceName_; },
        Manager({{"ZirvoService", 4}})};
  }
  void FillSmsSended(int rows) {
    Query fill(*connection_);
    fill.SetText(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < :rows) "
        "INSERT INTO SMS_SENDED (SMS_ID, SEND_DATE_TIME) SELECT 'id' || i, '2025-06-01 00:00:00' "
        "FROM n");
    fill.ParamByName("rows").SetFloat(rows);
    fill.Execute();
  }

  test::SqliteDatabase database_;
  std::unique_ptr<Connection> connection_ = database_.NewConnection();
  Lines log_;
  bool timerEnabled_ = true;
  std::string serviceName_ = "ZirvoService";
};

TEST_F(StateReport, ClosedConnectionReportsTheServiceStatusInDebugModeOnly) {
  ActualizeSQLServiceState(Context(true));
  EXPECT_EQ(log_,
            (Lines{"ActualizeSQLServiceState : état du timer : actif",
                   "ActualizeSQLServiceState : ADO_MSSQLConnection.Connected=False",
                   "ActualizeSQLServiceState : la base de données MSSQL n'est pas connectée. Etat "
                   "du service : Le service est démarré",
                   "État du timer : actif"}));
  log_.clear();
  timerEnabled_ = false;
  serviceName_ = "AutreService";
  ActualizeSQLServiceState(Context(true));
  EXPECT_EQ(log_[0], "ActualizeSQLServiceState : état du timer : inactif");
  EXPECT_EQ(
      log_[2],
      "ActualizeSQLServiceState : la base de données MSSQL n'est pas connectée. Etat du service "
      ": Le service est inexistant !");
  EXPECT_EQ(log_[3], "État du timer : inactif");
  log_.clear();
  ActualizeSQLServiceState(Context(false));
  EXPECT_TRUE(log_.empty());
}

TEST_F(StateReport, CountIsLoggedAboveTheThresholdAndItsFailureReachesTheCaller) {
  connection_->Open();
  FillSmsSended(9999);
  ActualizeSQLServiceState(Context(true));
  EXPECT_EQ(log_, (Lines{"ActualizeSQLServiceState : état du timer : actif",
                         "ActualizeSQLServiceState : ADO_MSSQLConnection.Connected=True"}));
  FillSmsSended(1);
  log_.clear();
  ActualizeSQLServiceState(Context(false));
  EXPECT_TRUE(log_.empty()) << "the count runs but logs nothing outside debug mode";
  ActualizeSQLServiceState(Context(true));
  ASSERT_EQ(log_.size(), 3u);
  EXPECT_EQ(log_[2], "La table SMS_SENDED contient 10000 enregistrements.");

  Query drop(*connection_);
  drop.SetText("DROP TABLE SMS_SENDED");
  drop.Execute();
  EXPECT_THROW(ActualizeSQLServiceState(Context(false)), Exception);
}

TEST_F(StateReport, FailedStateRowIsLoggedWithItsPrefixAndNotRaised) {
  connection_->Open();
  Query drop(*connection_);
  drop.SetText("DROP TABLE SrvState");
  drop.Execute();
  RecordServiceState(
      *connection_, 7, "Le service des SMS est en pause",
      "Impossible d'enregistrer l'état du service des SMS dans la base de données : ",
      Log([this](const std::string& line) { log_.push_back(line); }));
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].rfind(
                "Impossible d'enregistrer l'état du service des SMS dans la base de données : ", 0),
            0u);
  EXPECT_NE(log_[0].find("SrvState"), std::string::npos) << log_[0];
}

}  // namespace
}  // namespace zirvo::db

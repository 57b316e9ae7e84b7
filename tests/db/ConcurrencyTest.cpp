// The service thread's state reports and the cycle's statements share one connection.
// Run under ThreadSanitizer too (scripts/test.sh builds build-tsan for these tests).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/Errors.h"
#include "db/Backends.h"
#include "db/Connection.h"
#include "db/DateSerial.h"
#include "db/Query.h"
#include "db/ServiceState.h"
#include "db/Statements.h"

namespace zirvo::db {
namespace {

constexpr int kMessages = 300;

void Fill(Connection& connection) {
  Query fill(connection);
  fill.SetText(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < :rows) "
      "INSERT INTO SMS_SENDED (SMS_ID, SEND_DATE_TIME, FOURNISSEUR, MEMBER_ID, PASSWORD) "
      "SELECT 'id' || i, '2025-06-01 00:00:00.000', 1, 'M' || (i % 3), 'P' FROM n");
  fill.ParamByName("rows").SetFloat(kMessages);
  fill.Execute();
  fill.SetText(
      "INSERT INTO SMS_SENDED_DELIVERY (SMS_SENDED_ID, DELIVERED) SELECT SMS_SENDED_ID, 0 FROM "
      "SMS_SENDED");
  fill.Execute();
}

// One selection pass of the cycle: every row read, every third one updated.
int SelectAndUpdate(Connection& connection, int round) {
  Query selection(connection);
  for (auto line : kSelectionLines) selection.AddLine(std::string(line));
  selection.ParamByName("datedebut").SetDaySerial(DateTimeToSerial({2025, 1, 1}) - 365.0);
  selection.ParamByName("datefin").SetDateTime({2026, 6, 1});
  selection.Open();
  Query update(connection);
  for (auto line : kUpdateLines) update.AddLine(std::string(line));
  int rows = 0;
  for (; !selection.Eof(); selection.Next(), ++rows) {
    EXPECT_EQ(selection.RecNo(), rows + 1);
    const std::string id = selection.FieldAsText("SMS_ID");
    EXPECT_EQ(id.rfind("id", 0), 0u);
    if (rows % 3 == 0) {
      update.ParamByName("delivered").SetBoolean(false);
      update.ParamByName("delivered_date_time").SetNull();
      update.ParamByName("delivered_message").SetNull();  // stays selectable
      update.ParamByName("sms_id").SetText(id);
      update.Execute();
    }
  }
  EXPECT_EQ(rows, selection.RecordCount()) << "round " << round;
  return rows;
}

TEST(DatabaseConcurrency, StateReportsAndStateRowsDuringARunningSelectionStayConsistent) {
  test::SqliteDatabase database;
  auto connection = database.NewConnection();
  connection->Open();
  Fill(*connection);

  std::atomic<int> reportErrors{0};
  std::atomic<int> countLines{0};
  constexpr int kReports = 150;
  std::thread serviceThread([&] {
    StateReportContext context{*connection,
                               Log(
                                   [&](const std::string& line) {
                                     if (line.find("enregistrements") != std::string::npos)
                                       ++countLines;
                                   },
                                   [] { return true; }),
                               [] { return true; },
                               [] { return std::string("ZirvoService"); },
                               {}};
    for (int i = 0; i < kReports; ++i) {
      try {
        ActualizeSQLServiceState(context);
        RecordServiceState(*connection, 7, "Le service est en pause",
                           "échec : ", Log([&](const std::string&) { ++reportErrors; }));
      } catch (const Exception&) {
        ++reportErrors;
      }
    }
  });
  for (int round = 0; round < 20; ++round)
    EXPECT_EQ(SelectAndUpdate(*connection, round), kMessages);
  serviceThread.join();

  EXPECT_EQ(reportErrors.load(), 0);
  EXPECT_EQ(countLines.load(), 0) << "300 rows are below the threshold";
  Query states(*connection);
  states.SetText("select count(*) as n from SrvState where ServiceNState = 7");
  states.Open();
  EXPECT_EQ(states.FieldAsInteger("n"), kReports);
}

TEST(DatabaseConcurrency, ClosingWhileTheOtherThreadReportsGivesErrorsNeverCrashes) {
  test::SqliteDatabase database;
  auto connection = database.NewConnection();
  connection->Open();
  Fill(*connection);
  std::atomic<bool> done{false};
  std::atomic<int> reports{0};
  std::thread serviceThread([&] {
    StateReportContext context{*connection,
                               Log([](const std::string&) {}, [] { return true; }),
                               [] { return false; },
                               [] { return std::string("ZirvoService"); },
                               {}};
    while (!done) {
      try {
        ActualizeSQLServiceState(context);
        ++reports;
      } catch (const Exception& error) {
        // The connection went away between the check and the count: reported, not fatal.
        EXPECT_FALSE(error.Message().empty());
      }
    }
  });
  for (int round = 0; round < 30; ++round) {
    connection->Close();
    connection->Open();
    EXPECT_EQ(SelectAndUpdate(*connection, round), kMessages);
  }
  done = true;
  serviceThread.join();
  EXPECT_GT(reports.load(), 0);
}

}  // namespace
}  // namespace zirvo::db

// The service's statements, unchanged, against real databases: SQLite through its ODBC
// driver and a MariaDB server, with every kind of parameter value.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "db/Backends.h"
#include "db/DatabaseError.h"
#include "db/DateSerial.h"
#include "db/NamedParameters.h"
#include "db/Query.h"
#include "db/ServiceState.h"
#include "db/Statements.h"
#include "platform/Clock.h"

namespace zirvo::db {
namespace {

LocalDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                 int millisecond = 0) {
  return LocalDateTime{year, month, day, hour, minute, second, millisecond};
}

struct Message {
  std::string smsId;
  LocalDateTime sent;
  std::string member = "M1";
  std::string password = "P1";
  std::uint8_t provider = 1;
  int deliveryRows = 1;
  std::optional<bool> delivered = false;  // nullopt: NULL
  std::optional<std::string> outcome;     // DELIVERED_MESSAGE
};

Message Msg(std::string smsId, LocalDateTime sent, std::string member = "M1",
            std::string password = "P1", std::uint8_t provider = 1, int deliveryRows = 1,
            std::optional<bool> delivered = false,
            std::optional<std::string> outcome = std::nullopt) {
  return Message{std::move(smsId), sent,         std::move(member), std::move(password),
                 provider,         deliveryRows, delivered,         std::move(outcome)};
}

void Insert(Connection& connection, const Message& message) {
  Query insert(connection);
  insert.AddLine(
      "INSERT INTO SMS_SENDED (SMS_ID, SEND_DATE_TIME, FOURNISSEUR, MEMBER_ID, PASSWORD)");
  insert.AddLine("VALUES (:sms_id, :sent, :provider, :member, :password)");
  insert.ParamByName("sms_id").SetText(message.smsId);
  insert.ParamByName("sent").SetDateTime(message.sent);
  insert.ParamByName("provider").SetByte(message.provider);
  insert.ParamByName("member").SetText(message.member);
  insert.ParamByName("password").SetText(message.password);
  insert.Execute();
  for (int row = 0; row < message.deliveryRows; ++row) {
    Query delivery(connection);
    delivery.SetText(
        "INSERT INTO SMS_SENDED_DELIVERY (SMS_SENDED_ID, DELIVERED, DELIVERED_MESSAGE) "
        "SELECT max(SMS_SENDED_ID), :delivered, :outcome FROM SMS_SENDED");
    if (message.delivered) {
      delivery.ParamByName("delivered").SetBoolean(*message.delivered);
    } else {
      delivery.ParamByName("delivered").SetNull();
    }
    if (message.outcome) {
      delivery.ParamByName("outcome").SetText(*message.outcome);
    } else {
      delivery.ParamByName("outcome").SetNull();
    }
    delivery.Execute();
  }
}

void PrepareSelection(Query& selection, const LocalDateTime& now) {
  selection.Close();
  selection.ClearLines();
  for (auto line : kSelectionLines) selection.AddLine(std::string(line));
  // 1 January 2026 minus 365 days: 1 January 2025, as a number.
  selection.ParamByName("datedebut").SetDaySerial(DateTimeToSerial(At(2026, 1, 1)) - 365.0);
  selection.ParamByName("datefin").SetDateTime(now);
}

void SetUpdateValues(Query& update, const std::string& smsId, bool delivered,
                     std::optional<LocalDateTime> when, std::optional<std::string> message) {
  update.ParamByName("delivered").SetBoolean(delivered);
  if (when) {
    update.ParamByName("delivered_date_time").SetDateTime(*when);
  } else {
    update.ParamByName("delivered_date_time").SetNull();
  }
  if (message) {
    update.ParamByName("delivered_message").SetText(*message);
  } else {
    update.ParamByName("delivered_message").SetNull();
  }
  update.ParamByName("sms_id").SetText(smsId);
}

void RunUpdate(Connection& connection, const std::string& smsId, bool delivered,
               std::optional<LocalDateTime> when, std::optional<std::string> message) {
  Query update(connection);
  for (auto line : kUpdateLines) update.AddLine(std::string(line));
  SetUpdateValues(update, smsId, delivered, when, std::move(message));
  update.Execute();
}

// SMS_ID, DELIVERED and DELIVERED_MESSAGE of every delivery row, in row order.
std::vector<std::string> DeliveryRows(Connection& connection) {
  Query rows(connection);
  rows.AddLine("select SMS_ID, DELIVERED, DELIVERED_MESSAGE from SMS_SENDED INNER JOIN");
  rows.AddLine("SMS_SENDED_DELIVERY on SMS_SENDED.SMS_SENDED_ID=SMS_SENDED_DELIVERY.SMS_SENDED_ID");
  rows.AddLine("order by SMS_SENDED_DELIVERY.SMS_SENDED_DELIVERY_ID");
  rows.Open();
  std::vector<std::string> result;
  for (; !rows.Eof(); rows.Next()) {
    result.push_back(
        rows.FieldAsText("SMS_ID") + " " + rows.FieldAsText("DELIVERED") + " " +
        (rows.FieldIsNull("DELIVERED_MESSAGE") ? "NULL" : rows.FieldAsText("DELIVERED_MESSAGE")));
  }
  return result;
}

class Statements : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    database_ = test::MakeTestDatabase(GetParam());
    connection_ = database_->NewConnection();
    connection_->Open();
  }
  std::unique_ptr<test::TestDatabase> database_;
  std::unique_ptr<Connection> connection_;
};

TEST_P(Statements, SelectionTakesOpenMessagesOfTheWindowInAccountOrderWithExactPositions) {
  const LocalDateTime now = At(2026, 6, 15, 12, 0, 0);
  // SQL Server reads the lower bound, 1 January 2025 as a number, as 3 January 2025.
  Insert(*connection_, Msg("early", At(2025, 1, 2, 12, 0, 0)));
  Insert(*connection_, Msg("onbound", At(2025, 1, 3)));
  Insert(*connection_, Msg("b-late", At(2026, 6, 1), "M2", "P1"));
  Insert(*connection_, Msg("a-first", At(2025, 1, 3, 0, 0, 1)));
  Insert(*connection_, Msg("a-twice", At(2025, 6, 1), "M1", "P1", 1, 2));
  Insert(*connection_, Msg("a-otherpw", At(2025, 2, 1), "M1", "P0"));
  Insert(*connection_, Msg("attheend", now));
  Insert(*connection_, Msg("delivered", At(2025, 6, 1), "M1", "P1", 1, 1, true));
  Insert(*connection_, Msg("nulldelivered", At(2025, 6, 1), "M1", "P1", 1, 1, std::nullopt));
  Insert(*connection_,
         Msg("hasoutcome", At(2025, 6, 1), "M1", "P1", 1, 1, false, "Message non livré"));
  Insert(*connection_, Msg("provider2", At(2025, 6, 1), "M1", "P1", 2));
  Insert(*connection_, Msg("", At(2025, 6, 1)));
  Insert(*connection_, Msg("norow", At(2025, 6, 1), "M1", "P1", 1, 0));

  Query selection(*connection_);
  PrepareSelection(selection, now);
  selection.Open();
  ASSERT_EQ(selection.RecordCount(), 5);
  std::vector<std::string> ids;
  std::vector<long> positions;
  while (!selection.Eof()) {
    ids.push_back(selection.FieldAsText("SMS_ID"));
    positions.push_back(selection.RecNo());
    EXPECT_TRUE(selection.FieldIsNull("DELIVERED_MESSAGE"));
    EXPECT_EQ(selection.FieldAsText("DELIVERED_MESSAGE"), "");
    EXPECT_EQ(selection.FieldAsInteger("FOURNISSEUR"), 1);
    selection.Next();
  }
  EXPECT_EQ(ids,
            (std::vector<std::string>{"a-otherpw", "a-first", "a-twice", "a-twice", "b-late"}));
  EXPECT_EQ(positions, (std::vector<long>{1, 2, 3, 4, 5}));
  EXPECT_EQ(selection.RecNo(), -1);
  selection.Next();  // past the end it stays there
  EXPECT_TRUE(selection.Eof());
  selection.Close();
  selection.Close();
  EXPECT_TRUE(selection.Eof());

  // Keeping only the fields the batch cut reads: the same rows and positions, the
  // account values of neighbours right even where they stop being equal, the rest gone.
  PrepareSelection(selection, now);
  selection.KeepOnlyFields({"sms_id", "MEMBER_ID", "PASSWORD"});
  selection.Open();
  ASSERT_EQ(selection.RecordCount(), 5);
  std::vector<std::string> rows;
  for (; !selection.Eof(); selection.Next()) {
    rows.push_back(std::to_string(selection.RecNo()) + " " + selection.FieldAsText("SMS_ID") + " " +
                   selection.FieldAsText("member_id") + " " + selection.FieldAsText("PASSWORD"));
    EXPECT_THROW(selection.FieldAsText("FOURNISSEUR"), Exception) << "a field not kept";
  }
  EXPECT_EQ(rows,
            (std::vector<std::string>{"1 a-otherpw M1 P0", "2 a-first M1 P1", "3 a-twice M1 P1",
                                      "4 a-twice M1 P1", "5 b-late M2 P1"}));

  // The same query object runs again after its text is rebuilt, every field back.
  PrepareSelection(selection, At(2025, 5, 1));
  selection.Open();
  EXPECT_EQ(selection.RecordCount(), 2);
  EXPECT_EQ(selection.FieldAsInteger("FOURNISSEUR"), 1);
}

TEST_P(Statements, UpdateWritesEveryDeliveryRowOfTheIdWithBooleansDatesTextsAndNulls) {
  Insert(*connection_, Msg("101", At(2025, 6, 1), "M1", "P1", 1, 2));
  Insert(*connection_, Msg("102", At(2025, 6, 1)));
  Insert(*connection_, Msg("102", At(2025, 6, 2)));
  Insert(*connection_, Msg("103", At(2025, 6, 2)));

  RunUpdate(*connection_, "101", true, At(2025, 3, 15, 10, 20, 30, 250), std::nullopt);
  const std::string french = "Numéro de destinataire invalide ; l'opérateur dit « non »";
  RunUpdate(*connection_, "102", false, std::nullopt, french);
  const std::string longLine = "104|" + std::string(5000, 'x') + "|é";
  RunUpdate(*connection_, "103", false, At(2025, 3, 15), longLine);
  RunUpdate(*connection_, "nobody", true, std::nullopt, std::nullopt);  // touches no row

  Query rows(*connection_);
  rows.AddLine("select SMS_ID, DELIVERED, DELIVERED_DATE_TIME, DELIVERED_MESSAGE from SMS_SENDED");
  rows.AddLine(
      "INNER JOIN SMS_SENDED_DELIVERY on "
      "SMS_SENDED.SMS_SENDED_ID=SMS_SENDED_DELIVERY.SMS_SENDED_ID");
  rows.AddLine("order by SMS_SENDED_DELIVERY.SMS_SENDED_DELIVERY_ID");
  rows.Open();
  ASSERT_EQ(rows.RecordCount(), 5);
  for (int row = 0; row < 2; ++row, rows.Next()) {
    EXPECT_EQ(rows.FieldAsText("SMS_ID"), "101");
    EXPECT_EQ(rows.FieldAsInteger("DELIVERED"), 1);
    EXPECT_EQ(rows.FieldAsText("DELIVERED_DATE_TIME").substr(0, 23), "2025-03-15 10:20:30.250");
    EXPECT_TRUE(rows.FieldIsNull("DELIVERED_MESSAGE"));
  }
  for (int row = 0; row < 2; ++row, rows.Next()) {
    EXPECT_EQ(rows.FieldAsText("SMS_ID"), "102");
    EXPECT_EQ(rows.FieldAsInteger("DELIVERED"), 0);
    EXPECT_TRUE(rows.FieldIsNull("DELIVERED_DATE_TIME"));
    EXPECT_EQ(rows.FieldAsText("delivered_message"), french);
  }
  EXPECT_EQ(rows.FieldAsText("DELIVERED_MESSAGE"), longLine);
  EXPECT_EQ(rows.FieldAsText("DELIVERED_DATE_TIME").substr(0, 19), "2025-03-15 00:00:00");
}

TEST_P(Statements, AnUpdateKeptPreparedRunsWithEachNewValueAcrossReconnectsAndFailures) {
  Insert(*connection_, Msg("201", At(2025, 6, 1)));
  Insert(*connection_, Msg("202", At(2025, 6, 1), "M1", "P1", 1, 2));
  Insert(*connection_, Msg("203", At(2025, 6, 1)));
  Insert(*connection_, Msg("204", At(2025, 6, 1)));
  Query update(*connection_);
  for (auto line : kUpdateLines) update.AddLine(std::string(line));
  update.SetKeepPrepared(true);
  SetUpdateValues(update, "201", true, At(2025, 3, 15), std::nullopt);
  update.Execute();
  const std::string longText = "204|" + std::string(4500, 'y') + "|é";
  SetUpdateValues(update, "202", false, std::nullopt, longText);
  update.Execute();
  // The connection frees its statements when it closes: the next run prepares anew.
  connection_->Close();
  connection_->Open();
  SetUpdateValues(update, "203", false, At(2025, 3, 15), "Numéro invalide");
  update.Execute();
  // Values of the same types and lengths as the last run's reuse its bound buffers.
  SetUpdateValues(update, "204", false, At(2025, 3, 16), "Numéro inconnu.");
  update.Execute();
  EXPECT_EQ(DeliveryRows(*connection_),
            (std::vector<std::string>{"201 1 NULL", "202 0 " + longText, "202 0 " + longText,
                                      "203 0 Numéro invalide", "204 0 Numéro inconnu."}));

  // A failure leaves nothing behind that stops the next run; a new text is prepared anew.
  SetUpdateValues(update, "201", true, std::nullopt, std::nullopt);
  connection_->Close();
  EXPECT_THROW(update.Execute(), Exception);
  connection_->Open();
  update.Execute();
  update.SetText("UPDATE SMS_SENDED_DELIVERY SET DELIVERED_MESSAGE = :m");
  update.ParamByName("m").SetText("tout");
  update.Execute();
  update.SetKeepPrepared(false);
  update.Execute();
  EXPECT_EQ(DeliveryRows(*connection_),
            (std::vector<std::string>{"201 1 tout", "202 0 tout", "202 0 tout", "203 0 tout",
                                      "204 0 tout"}));
}

// Each reply line finds its delivery rows through the two indexes of the schema
// scripts, not by reading both tables whole.
TEST_P(Statements, TheSchemaIndexesTheColumnsTheUpdateLooksRowsUpBy) {
  Query plan(*connection_);
  if (GetParam() == "sqlite") {
    std::string update;
    for (auto line : kUpdateLines) update += std::string(line) + "\r\n";
    plan.SetText("EXPLAIN QUERY PLAN " + update);
    SetUpdateValues(plan, "x", true, std::nullopt, std::nullopt);
  } else {
    plan.SetText(
        "select concat(INDEX_NAME, ' ', TABLE_NAME, '(', COLUMN_NAME, ')') as detail from "
        "information_schema.STATISTICS where TABLE_SCHEMA = database() and SEQ_IN_INDEX = 1");
  }
  plan.Open();
  std::string details;
  for (; !plan.Eof(); plan.Next()) details += plan.FieldAsText("detail") + "\n";
  EXPECT_NE(details.find("IX_SMS_SENDED_SMS_ID"), std::string::npos) << details;
  EXPECT_NE(details.find("IX_SMS_SENDED_DELIVERY_SMS_SENDED_ID"), std::string::npos) << details;
}

TEST_P(Statements, ValuesOfEveryKindComeBackAsTextAndMisuseGivesClearErrors) {
  Query query(*connection_);
  query.SetText("select :b as b, :f as f, :t as t, :n as n, :y as y, :t as again, 'x:y' as lit");
  EXPECT_EQ(query.Text(),
            "select :b as b, :f as f, :t as t, :n as n, :y as y, :t as again, 'x:y' as lit\r\n");
  EXPECT_THROW(query.Open(), Exception) << "unbound parameters";
  query.ParamByName("B").SetBoolean(true);
  query.ParamByName("f").SetFloat(2.5);
  query.ParamByName("t").SetText("d'Été");
  query.ParamByName("n").SetNull();
  query.ParamByName("y").SetByte(255);
  EXPECT_THROW(query.ParamByName("lit"), Exception);
  query.Open();
  ASSERT_EQ(query.RecordCount(), 1);
  EXPECT_EQ(query.FieldAsInteger("b"), 1);
  EXPECT_EQ(query.FieldAsText("f").substr(0, 3), "2.5");
  EXPECT_EQ(query.FieldAsText("t"), "d'Été");
  EXPECT_EQ(query.FieldAsText("again"), "d'Été");
  EXPECT_TRUE(query.FieldIsNull("n"));
  EXPECT_EQ(query.FieldAsInteger("n"), 0);
  EXPECT_EQ(query.FieldAsInteger("y"), 255);
  EXPECT_EQ(query.FieldAsText("lit"), "x:y");
  EXPECT_THROW(query.FieldAsInteger("t"), EConvertError);
  EXPECT_THROW(query.FieldAsText("absent"), Exception);
  query.Next();
  EXPECT_THROW(query.FieldAsText("t"), Exception) << "no current row";

  Query notRows(*connection_);
  notRows.SetText("UPDATE SMS_SENDED SET FOURNISSEUR = 1 WHERE 1 = 0");
  EXPECT_THROW(notRows.Open(), Exception);
}

TEST_P(Statements, StateHistoryCountAndServerErrorsThroughTheStateReport) {
  const LocalDateTime before = platform::LocalNow();
  std::vector<std::string> log;
  auto writeLog = [&](const std::string& line) { log.push_back(line); };
  RecordServiceState(
      *connection_, 7, "Le service est en pause",
      "Impossible d'enregistrer l'état du service dans la base de données : ", Log(writeLog));
  EXPECT_TRUE(log.empty());
  Query state(*connection_);
  state.SetText("select * from SrvState");
  state.Open();
  ASSERT_EQ(state.RecordCount(), 1);
  EXPECT_EQ(state.FieldAsInteger("ServiceNState"), 7);
  EXPECT_EQ(state.FieldAsText("ServiceSState"), "Le service est en pause");
  const std::string stamp = state.FieldAsText("Execution_date_time");
  char expectedDay[11];
  std::snprintf(expectedDay, sizeof expectedDay, "%04d-%02d-%02d", before.year, before.month,
                before.day);
  EXPECT_EQ(stamp.substr(0, 4), std::string(expectedDay).substr(0, 4)) << stamp;

  for (int i = 0; i < 3; ++i) Insert(*connection_, Msg("c" + std::to_string(i), At(2025, 6, 1)));
  Query count(*connection_);
  count.SetText(std::string(kCountStatement));
  count.Open();
  EXPECT_EQ(count.FieldAsInteger("NbRecords"), 3);

  Query missing(*connection_);
  missing.SetText("select * from SMS_MISSING");
  try {
    missing.Open();
    FAIL() << "a missing table must fail";
  } catch (const EOdbcError& error) {
    ASSERT_FALSE(error.Diagnostics().empty());
    EXPECT_NE(error.Message().find("SMS_MISSING"), std::string::npos) << error.Message();
    EXPECT_NE(error.Message().find("(SQLSTATE "), std::string::npos) << error.Message();
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, Statements, ::testing::Values("sqlite", "mariadb"),
                         [](const auto& backend) { return backend.param; });

}  // namespace
}  // namespace zirvo::db

namespace zirvo::db {
namespace {

// The form's insert statements are never run by the service, but the tables the schema
// makes for them must take them as written (SQLite reads [names] as SQL Server does).
TEST(FormStatements, DatasAndEmailsInsertsFitTheirTables) {
  test::SqliteDatabase database;
  auto connection = database.NewConnection();
  connection->Open();
  for (auto statement : {kAddDatasStatement, kAddEmailsStatement}) {
    Query insert(*connection);
    insert.SetText(std::string(statement));
    for (const auto& name : MarkParameters(statement).names) {
      auto& parameter = insert.ParamByName(name);
      if (name.size() > 3 && name.substr(name.size() - 3) == "_ID") {
        parameter.SetFloat(1);
      } else if (name == "VISITEDATE") {
        parameter.SetDateTime({2025, 1, 2});
      } else {
        parameter.SetNull();
      }
    }
    insert.Execute();
  }
  Query rows(*connection);
  rows.SetText("select (select count(*) from Datas) + (select count(*) from Emails) as n");
  rows.Open();
  EXPECT_EQ(rows.FieldAsInteger("n"), 2);
}

}  // namespace
}  // namespace zirvo::db

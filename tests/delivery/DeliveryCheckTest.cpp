// The delivery check end to end: the selection on a real database (SQLite and MariaDB),
// the requests a real HTTPS peer receives, the rows the replies update and the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/Errors.h"
#include "config/Common.h"
#include "db/Backends.h"
#include "db/Connection.h"
#include "db/DateSerial.h"
#include "db/Query.h"
#include "db/Statements.h"
#include "delivery/DeliveryCheck.h"
#include "net/HttpClient.h"
#include "net/PeerFixtures.h"
#include "platform/Clock.h"
#include "support/ScopedEnvironment.h"

namespace zirvo::delivery {
namespace {

using test::Exchange;
using test::PeerOptions;
using test::ScriptedPeer;

const LocalDateTime kNow{2026, 6, 15, 12, 0, 0, 0};
const RegionalDateFormat kFrench{RegionalDateFormat::Order::kDayMonthYear, '/', ':'};

std::string Reply(const std::string& body, int status = 200) {
  const std::string statusLine =
      status == 200 ? "HTTP/1.1 200 OK"
                    : "HTTP/1.1 " + std::to_string(status) + " Internal Server Error";
  return statusLine + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string BodyOf(const std::string& request) {
  const auto end = request.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : request.substr(end + 4);
}

std::size_t IdsIn(const std::string& body) {
  std::size_t count = 0;
  for (auto at = body.find("%0D%0A"); at != std::string::npos; at = body.find("%0D%0A", at + 1)) {
    ++count;
  }
  return count;
}

// The first id of a body's lstidmsg field.
std::string FirstId(const std::string& body) {
  const auto start = body.find("lstidmsg=") + 9;
  return body.substr(start, body.find("%0D%0A", start) - start);
}

struct Message {
  std::string smsId;
  std::string sent = "2026-03-01 10:00:00.000";
  std::string member = config::ScramblePassword("compte1");
  std::string password = config::ScramblePassword("secret 1");
  int provider = 1;
  int deliveryRows = 1;
  std::optional<int> delivered = 0;
  std::optional<std::string> outcome;

  Message& Sent(std::string value) {
    sent = std::move(value);
    return *this;
  }
  Message& Member(std::string value) {
    member = std::move(value);
    return *this;
  }
  Message& Password(std::string value) {
    password = std::move(value);
    return *this;
  }
  Message& Provider(int value) {
    provider = value;
    return *this;
  }
  Message& DeliveryRows(int value) {
    deliveryRows = value;
    return *this;
  }
  Message& Delivered(std::optional<int> value) {
    delivered = value;
    return *this;
  }
  Message& Outcome(std::string value) {
    outcome = std::move(value);
    return *this;
  }
};

Message Msg(std::string smsId) {
  Message message;
  message.smsId = std::move(smsId);
  return message;
}

std::string Quoted(const std::optional<std::string>& text) {
  if (!text) return "NULL";
  std::string out = "'";
  for (const char c : *text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// What one delivery row holds after a check.
struct DeliveryRow {
  long long delivered = -1;             // -1: NULL
  std::optional<std::string> dateTime;  // the first 19 characters
  std::optional<std::string> message;
};

class DeliveryCheckTest : public test::CertificateSuite,
                          public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    test::CertificateSuite::SetUp();
    if (IsSkipped()) return;
    database_ = test::MakeTestDatabase(GetParam());
    connection_ = database_->NewConnection();
    connection_->Open();
    selection_ = std::make_unique<db::Query>(*connection_);
    update_ = std::make_unique<db::Query>(*connection_);
    for (const auto line : db::kUpdateLines) update_->AddLine(std::string(line));
    net::HttpClientOptions options;
    options.waits.readTimeout = std::chrono::seconds(5);
    options.waits.connectTimeout = std::chrono::seconds(5);
    http_ = std::make_unique<net::HttpClient>(options);
  }

  // Messages with their delivery rows, inserted a few hundred per statement.
  void Insert(const std::vector<Message>& messages) {
    constexpr std::size_t kPerStatement = 400;
    for (std::size_t from = 0; from < messages.size(); from += kPerStatement) {
      std::string sent;
      std::string deliveries;
      for (std::size_t i = from; i < std::min(messages.size(), from + kPerStatement); ++i) {
        const Message& m = messages[i];
        const std::string key = std::to_string(nextKey_++);
        sent += std::string(sent.empty() ? "" : ",") + "(" + key + "," + Quoted(m.smsId) + "," +
                Quoted(m.sent) + "," + std::to_string(m.provider) + "," + Quoted(m.member) + "," +
                Quoted(m.password) + ")";
        for (int row = 0; row < m.deliveryRows; ++row) {
          deliveries += std::string(deliveries.empty() ? "" : ",") + "(" + key + "," +
                        (m.delivered ? std::to_string(*m.delivered) : "NULL") + "," +
                        Quoted(m.outcome) + ")";
        }
      }
      Run("INSERT INTO SMS_SENDED (SMS_SENDED_ID, SMS_ID, SEND_DATE_TIME, FOURNISSEUR, "
          "MEMBER_ID, PASSWORD) VALUES " +
          sent);
      if (!deliveries.empty()) {
        Run("INSERT INTO SMS_SENDED_DELIVERY (SMS_SENDED_ID, DELIVERED, DELIVERED_MESSAGE) "
            "VALUES " +
            deliveries);
      }
    }
  }

  void Run(const std::string& statement) {
    db::Query query(*connection_);
    query.SetText(statement);
    query.Execute();
  }

  std::vector<DeliveryRow> RowsOf(const std::string& smsId) {
    db::Query query(*connection_);
    query.AddLine("SELECT D.DELIVERED, D.DELIVERED_DATE_TIME, D.DELIVERED_MESSAGE");
    query.AddLine("FROM SMS_SENDED S INNER JOIN SMS_SENDED_DELIVERY D");
    query.AddLine("ON S.SMS_SENDED_ID = D.SMS_SENDED_ID WHERE S.SMS_ID = :id");
    query.AddLine("ORDER BY D.SMS_SENDED_DELIVERY_ID");
    query.ParamByName("id").SetText(smsId);
    query.Open();
    std::vector<DeliveryRow> rows;
    for (; !query.Eof(); query.Next()) {
      DeliveryRow row;
      if (!query.FieldIsNull("DELIVERED")) row.delivered = query.FieldAsInteger("DELIVERED");
      if (!query.FieldIsNull("DELIVERED_DATE_TIME")) {
        row.dateTime = query.FieldAsText("DELIVERED_DATE_TIME").substr(0, 19);
      }
      if (!query.FieldIsNull("DELIVERED_MESSAGE")) {
        row.message = query.FieldAsText("DELIVERED_MESSAGE");
      }
      rows.push_back(row);
    }
    return rows;
  }

  DeliveryContext Context(const std::string& gatewayHost) {
    return DeliveryContext{
        .selection = *selection_,
        .update = *update_,
        .http = *http_,
        .gatewayHost = gatewayHost,
        .log = Log([this](const std::string& line) { log_.push_back(line); },
                   [this] { return debug_; }),
        .resultFilePath = ResultFilePath(dir_.File("ZirvoSrv.exe")),
        .handleDatabaseError =
            [this](const Exception& error) { handled_.push_back(error.Message()); },
        .now = [] { return kNow; },
        .dateFormat = kFrench,
        .stopCheck = {},
    };
  }

  PeerOptions Tls() const { return PeerOptions{.tls = cert_}; }
  std::string ResultFile() const { return dir_.File(std::string(kResultFileName)); }
  std::string WindowStartLine() const {
    return "CheckDelivery : paramétrage de la date de début de recherche à " +
           DateTimeToStr(LocalDateTime{2025, 1, 1, 0, 0, 0, 0});
  }

  test::TempDir dir_;
  std::unique_ptr<test::TestDatabase> database_;
  std::unique_ptr<db::Connection> connection_;
  std::unique_ptr<db::Query> selection_;
  std::unique_ptr<db::Query> update_;
  std::unique_ptr<net::HttpClient> http_;
  std::vector<std::string> log_;
  std::vector<std::string> handled_;
  bool debug_ = true;
  int nextKey_ = 1;
};

TEST_P(DeliveryCheckTest, RepliesUpdateTheRowsAsMappedAndOnlyOpenMessagesOfTheWindowAreAsked) {
  Insert({
      Msg("101").Sent("2026-01-10 08:00:00.000"),
      Msg("102").Sent("2026-01-11 08:00:00.000"),
      Msg("103").Sent("2026-01-12 08:00:00.000"),
      Msg("104").Sent("2026-01-13 08:00:00.000"),
      Msg("105").Sent("2026-01-14 08:00:00.000").DeliveryRows(2),
      Msg("106").Sent("2026-01-15 08:00:00.000"),
      Msg("Erreur : compte inconnu").Sent("2026-01-16 08:00:00.000"),
      // Never asked for: outside the window, no id, other provider, delivered, with an
      // outcome, no delivery state, stamped at the very instant of the check.
      Msg("201").Sent("2025-01-02 08:00:00.000"),
      Msg("").Sent("2026-02-01 08:00:00.000"),
      Msg("203").Provider(2),
      Msg("204").Delivered(1),
      Msg("205").Outcome("Message non livré par l'opérateur"),
      Msg("206").Delivered(std::nullopt),
      Msg("207").Sent("2026-06-15 12:00:00.000"),
      // A message already closed that carries an id the gateway reports: updated all the
      // same, the update being keyed by the id alone.
      Msg("106").Sent("2025-06-01 08:00:00.000").Delivered(1),
  });
  const std::string reply =
      "101|15/03/2025 10:20:30|DELIVRD\r\n"
      "102 | |UNDELIV |x\r\n"
      "103|15/03/2025 10:20:30|delivrd\r\n"
      "104|15/03/2025 10:20:30|QUEUE\r\n"
      "105|16/03/2025 11:00:00|REPONDEUR\r\n"
      "\r\n"
      "106|31/02/2025 10:00:00|NONREP\n"
      "204|15/03/2025 10:20:30|<b>UNDELIV</b>\r\n"
      "Erreur : compte inconnu";
  ScriptedPeer peer({{Reply(reply)}, {Reply("")}}, Tls());
  ASSERT_NE(peer.Port(), 0);
  auto context = Context(peer.Base());
  CheckDelivery(context);

  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "POST /envoi/sms/export.php HTTP/1.0");
  EXPECT_EQ(BodyOf(requests[0]),
            "u=compte1&p=secret+1&lstidmsg=101%0D%0A102%0D%0A103%0D%0A104%0D%0A105%0D%0A105%0D%0A"
            "106%0D%0AErreur+%3A+compte+inconnu%0D%0A")
      << "unscrambled account, ids in selection order, the twice-delivered message twice";

  using Rows = std::vector<DeliveryRow>;
  const auto expectRows = [&](const std::string& id, const Rows& expected) {
    const auto rows = RowsOf(id);
    ASSERT_EQ(rows.size(), expected.size()) << id;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].delivered, expected[i].delivered) << id;
      EXPECT_EQ(rows[i].dateTime, expected[i].dateTime) << id;
      EXPECT_EQ(rows[i].message, expected[i].message) << id;
    }
  };
  expectRows("101", {{1, "2025-03-15 10:20:30", std::nullopt}});
  expectRows("102", {{0, std::nullopt, "Message non livré par l'opérateur"}});
  expectRows("103", {{0, "2025-03-15 10:20:30", "103|15/03/2025 10:20:30|delivrd"}});
  expectRows("104", {{0, std::nullopt, std::nullopt}});
  expectRows("105", {{1, "2025-03-16 11:00:00", "Message volcalisé sur répondeur"},
                     {1, "2025-03-16 11:00:00", "Message volcalisé sur répondeur"}});
  expectRows("106", {{0, std::nullopt, "Pas de réponse du correspondant"},
                     {0, std::nullopt, "Pas de réponse du correspondant"}});
  expectRows("Erreur : compte inconnu", {{0, std::nullopt, "Erreur : compte inconnu"}});
  // The blank reply line touched nothing, nor did the line for a message not asked for.
  expectRows("", {{0, std::nullopt, std::nullopt}});
  expectRows("204", {{1, std::nullopt, std::nullopt}});

  EXPECT_EQ(log_, (std::vector<std::string>{
                      WindowStartLine(),
                      "CheckDelivery : nombre de SMS à vérifier : 8",
                      "Exécution de la recherche n°1 à partir du message n°101",
                      "Response : 9 lignes",
                      "CheckDelivery : ligne de réponse sans numéro de message ignorée : ",
                      ("CheckDelivery : 1 ligne de réponse ignorée (numéro de message absent de "
                       "la demande)"),
                  }));
  EXPECT_EQ(test::ReadFileBytes(ResultFile()),
            "101|15/03/2025 10:20:30|DELIVRD\r\n102 | |UNDELIV |x\r\n"
            "103|15/03/2025 10:20:30|delivrd\r\n104|15/03/2025 10:20:30|QUEUE\r\n"
            "105|16/03/2025 11:00:00|REPONDEUR\r\n\r\n106|31/02/2025 10:00:00|NONREP\r\n"
            "204|15/03/2025 10:20:30|<b>UNDELIV</b>\r\nErreur : compte inconnu\r\n");
  EXPECT_TRUE(handled_.empty());
  EXPECT_FALSE(selection_->Active()) << "a check that ends normally closes its selection";

  // The next check asks only for the queued message.
  log_.clear();
  CheckDelivery(context);
  ASSERT_EQ(peer.Requests().size(), 2u);
  EXPECT_EQ(BodyOf(peer.Requests()[1]), "u=compte1&p=secret+1&lstidmsg=104%0D%0A");
  EXPECT_EQ(test::ReadFileBytes(ResultFile()), "") << "the file holds the last reply only";
}

TEST_P(DeliveryCheckTest, BatchesKeepToOneAccountAndCutAtEveryThousandthRecord) {
  std::vector<Message> messages;
  const std::string accountA = config::ScramblePassword("A");
  const std::string accountB = config::ScramblePassword("B");
  for (int i = 1; i <= 3500; ++i) {
    Message m;
    m.smsId = std::to_string(100000 + i);
    m.member = i <= 998 ? accountA : accountB;
    m.password = config::ScramblePassword("pw");
    // One second apart, so the selection keeps insertion order within an account.
    const int seconds = i;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "2026-02-01 %02d:%02d:%02d.000", seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    m.sent = stamp;
    messages.push_back(m);
  }
  Insert(messages);
  std::vector<Exchange> script;
  script.reserve(5);
  for (int i = 0; i < 5; ++i) script.push_back({Reply("")});
  script[2] = {Reply("101999|01/06/2026 09:00:00|DELIVRD\r\n")};
  ScriptedPeer peer(script, Tls());
  ASSERT_NE(peer.Port(), 0);
  auto context = Context(peer.Base());
  CheckDelivery(context);

  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 5u);
  std::vector<std::size_t> sizes;
  std::vector<std::string> firsts;
  for (const auto& request : requests) {
    sizes.push_back(IdsIn(BodyOf(request)));
    firsts.push_back(FirstId(BodyOf(request)));
  }
  EXPECT_EQ(sizes, (std::vector<std::size_t>{998, 1, 1000, 1000, 501}));
  EXPECT_EQ(firsts, (std::vector<std::string>{"100001", "100999", "101000", "102000", "103000"}));
  EXPECT_EQ(BodyOf(requests[0]).substr(0, 10), "u=A&p=pw&l");
  EXPECT_EQ(BodyOf(requests[1]).substr(0, 10), "u=B&p=pw&l");
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "Response : 0 lignes"), 4);
  EXPECT_NE(std::find(log_.begin(), log_.end(),
                      "Exécution de la recherche n°5 à partir du message n°103000"),
            log_.end());
  EXPECT_EQ(RowsOf("101999")[0].delivered, 1);
}

TEST_P(DeliveryCheckTest, PasswordsAndCaseSeparateAccountsAndInvalidScrambledValuesGoAsUnderscore) {
  const std::string member = config::ScramblePassword("Compte");
  Insert({
      Msg("1")
          .Sent("2026-01-01 10:00:00.000")
          .Member(member)
          .Password(config::ScramblePassword("p1")),
      Msg("2")
          .Sent("2026-01-02 10:00:00.000")
          .Member(member)
          .Password(config::ScramblePassword("p2")),
      Msg("3").Sent("2026-01-03 10:00:00.000").Member("ABC").Password("zz"),
      Msg("4").Sent("2026-01-04 10:00:00.000").Member("abc").Password("zz"),
  });
  ScriptedPeer peer({{Reply("")}, {Reply("")}, {Reply("")}, {Reply("")}}, Tls());
  ASSERT_NE(peer.Port(), 0);
  debug_ = false;
  auto context = Context(peer.Base());
  CheckDelivery(context);

  std::vector<std::string> bodies;
  for (const auto& request : peer.Requests()) bodies.push_back(BodyOf(request));
  std::sort(bodies.begin(), bodies.end());
  EXPECT_EQ(bodies, (std::vector<std::string>{
                        "u=Compte&p=p1&lstidmsg=1%0D%0A",
                        "u=Compte&p=p2&lstidmsg=2%0D%0A",
                        "u=_&p=_&lstidmsg=3%0D%0A",
                        "u=_&p=_&lstidmsg=4%0D%0A",
                    }))
      << "odd-length and lower-case values unscramble to \"_\"; \"ABC\" and \"abc\" differ";
  EXPECT_TRUE(log_.empty()) << "nothing is logged without debug mode when all goes well";
  EXPECT_FALSE(std::filesystem::exists(ResultFile()));
}

TEST_P(DeliveryCheckTest, AFailedRequestEndsTheCheckKeepingEarlierUpdates) {
  Insert({
      Msg("1").Member(config::ScramblePassword("A")),
      // Scrambled, "C" sorts before "B": the accounts come in the order of the ids.
      Msg("2").Member(config::ScramblePassword("C")),
      Msg("3").Member(config::ScramblePassword("B")),
  });
  ScriptedPeer peer({{Reply("1|01/06/2026 09:00:00|DELIVRD\r\n")},
                     {Reply("panne", 500)},
                     {Reply("3|01/06/2026 09:00:00|DELIVRD\r\n")}},
                    Tls());
  ASSERT_NE(peer.Port(), 0);
  debug_ = false;
  test::WriteFileBytes(ResultFile(), "ancien");
  auto context = Context(peer.Base());
  CheckDelivery(context);

  EXPECT_EQ(peer.Requests().size(), 2u) << "no request after the failed one";
  EXPECT_EQ(log_, std::vector<std::string>{"Erreur : HTTP/1.1 500 Internal Server Error"});
  EXPECT_EQ(RowsOf("1")[0].delivered, 1);
  EXPECT_EQ(RowsOf("3")[0].delivered, 0);
  EXPECT_TRUE(selection_->Active()) << "the selection is left open";
  EXPECT_EQ(test::ReadFileBytes(ResultFile()), "ancien") << "untouched without debug mode";

  // A gateway that refuses the connection fails the same way, with debug mode on.
  debug_ = true;
  log_.clear();
  const std::uint16_t closedPort = test::FreeLoopbackPort(dir_);
  auto refused = Context("127.0.0.1:" + std::to_string(closedPort));
  CheckDelivery(refused);
  ASSERT_EQ(log_.size(), 4u);
  EXPECT_EQ(log_[2], "Exécution de la recherche n°1 à partir du message n°2");
  EXPECT_EQ(log_[3].rfind("Erreur : ", 0), 0u) << log_[3];
  EXPECT_GT(log_[3].size(), 9u);
  EXPECT_EQ(test::ReadFileBytes(ResultFile()), "ancien");
}

TEST_P(DeliveryCheckTest, RefusedCredentialsSkipTheirAccountAndACutReplyIsNotApplied) {
  // Plain account values sort as written. Account A has two batches (rows 1 to 999 and
  // row 1000), the others one each.
  std::vector<Message> messages;
  for (int i = 1; i <= 1000; ++i) messages.push_back(Msg("a" + std::to_string(i)).Member("A"));
  for (const char* id : {"b1", "c1", "d1", "d2", "e1"}) {
    messages.push_back(Msg(id).Member(std::string(1, static_cast<char>(id[0] - 'a' + 'A'))));
  }
  Insert(messages);
  const std::string cut = "d1|01/06/2026 09:00:00|DELIVRD\r\nd2|01/06/2026 09:00:00|UND";
  ScriptedPeer peer({{"HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"},
                     {Reply("b1|01/06/2026 09:00:00|DELIVRD\r\n")},
                     {"HTTP/1.1 403 Interdit\x1b[0m\r\nContent-Length: 0\r\n\r\n"},
                     // Closed cleanly (no TLS closing alert either) in the middle of its last line.
                     {"HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n" + cut},
                     {Reply("e1|01/06/2026 09:00:00|DELIVRD\r\n")}},
                    Tls());
  ASSERT_NE(peer.Port(), 0);
  debug_ = false;
  auto context = Context(peer.Base());
  CheckDelivery(context);

  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(FirstId(BodyOf(requests[0])), "a1");
  EXPECT_EQ(FirstId(BodyOf(requests[1])), "b1") << "the refused account's next batch is skipped";
  EXPECT_EQ(FirstId(BodyOf(requests[2])), "c1");
  EXPECT_EQ(FirstId(BodyOf(requests[3])), "d1");
  EXPECT_EQ(log_,
            (std::vector<std::string>{
                "Erreur : HTTP/1.1 401 Unauthorized", "Erreur : HTTP/1.1 403 Interdit\\x1B[0m",
                "Erreur : Connexion fermée par le serveur avant la fin de la réponse : " +
                    std::to_string(cut.size()) + " octets reçus sur 200 annoncés."}));
  EXPECT_EQ(RowsOf("b1")[0].delivered, 1);
  for (const char* untouched : {"a1000", "d1", "d2", "e1"}) {
    const DeliveryRow row = RowsOf(untouched).at(0);
    EXPECT_EQ(row.delivered, 0) << untouched;
    EXPECT_EQ(row.message, std::nullopt) << untouched << ": asked for again next cycle";
  }
  EXPECT_TRUE(selection_->Active()) << "a failure other than a refusal still ends the check";
}

TEST_P(DeliveryCheckTest, AStopSendsNoFurtherBatchAndAppliesNoFurtherLine) {
  Insert({Msg("a1").Member("A"), Msg("a2").Member("A"), Msg("b1").Member("B")});
  ScriptedPeer peer({{Reply("a1||DELIVRD\r\na2||DELIVRD\r\n")}},
                    PeerOptions{.tls = cert_, .repeatLast = true});
  ASSERT_NE(peer.Port(), 0);
  debug_ = false;
  // The checks come before batch A, before each of its two lines, then before batch B.
  for (const auto& [stopAtCall, a2] : std::vector<std::pair<int, long long>>{{3, 0}, {4, 1}}) {
    Run("UPDATE SMS_SENDED_DELIVERY SET DELIVERED = 0");
    auto context = Context(peer.Base());
    int calls = 0;
    context.stopCheck = [&calls, stopAtCall = stopAtCall] {
      if (++calls == stopAtCall) throw EAbort("Requête abandonnée");
    };
    CheckDelivery(context);
    EXPECT_EQ(RowsOf("a2")[0].delivered, a2) << stopAtCall;
  }
  EXPECT_EQ(peer.Requests().size(), 2u) << "one request per check: batch B never goes out";
  EXPECT_EQ(log_, std::vector<std::string>(2, "Erreur : Requête abandonnée"));
}

// The gateway's certificate in each mode, the test root being the only one trusted: the
// rows its replies update, the TLS and error lines (once per host and check, two accounts
// asking), and the server name of each client hello, which observation never sends. The
// last rows have a library without the name check.
TEST_P(DeliveryCheckTest, TheGatewaysCertificateIsHeldToTheMode) {
  const test::TestAuthority authority(dir_);
  if (!authority.Made()) GTEST_SKIP() << "the openssl command could not make the test root";
  const test::ScopedEnvironment file("SSL_CERT_FILE", authority.Root());
  const test::ScopedEnvironment folder("SSL_CERT_DIR", dir_.File("no-folder"));
  using Mode = net::TlsVerification;
  struct Row {
    Mode mode;
    // t: the root's certificate for "localhost" (else the self-signed one), c: a reply
    // ended by the close without the closing alert, d: debug mode, a: the rows updated.
    std::string flags;
    std::string host;
    std::string line;  // the one TLS or error line (a pattern), empty for none
    std::vector<std::string> serverNames;
  };
  const std::string observed = " ; la connexion continue \\(mode observation\\)\\.";
  const std::string refused = "Erreur : Error connecting with SSL\\.\r\n";
  const std::string missing = "fonction X509_VERIFY_PARAM_set1_host absente de la bibliothèque";
  const std::string accepted =
      "TLS : certificat de localhost vérifié, émis par /CN=Zirvo test root";
  const Row rows[] = {
      {Mode::kNone, "da", "localhost", "", {"None", "None"}},
      {Mode::kObserve,
       "a",
       "localhost",
       "TLS : le certificat de localhost ne serait pas accepté \\(self.signed certificate\\)" +
           observed,
       {"None", "None"}},
      {Mode::kStrict,
       "",
       "localhost",
       refused + ".*certificate verify failed \\(self.signed certificate\\)",
       {"localhost"}},
      {Mode::kObserve,
       "tcda",
       "localhost",
       accepted + ", valable jusqu'au 20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC\\.",
       {"None", "None"}},
      {Mode::kStrict, "tda", "localhost", accepted + ".*", {"localhost", "localhost"}},
      {Mode::kStrict, "t", "127.0.0.1", refused + ".*\\(IP address mismatch\\)", {"None"}},
      {Mode::kStrict,
       "tc",
       "localhost",
       "Erreur : EOF was observed that violates the protocol",
       {"localhost"}},
      {Mode::kObserve,
       "ta",
       "localhost",
       "TLS : le certificat de localhost ne peut pas être vérifié \\(" + missing + " .*\\)" +
           observed,
       {"None", "None"}},
      {Mode::kStrict, "t", "localhost", refused + missing + ".*", {}},
  };
  int number = 0;
  for (const Row& row : rows) {
    if (number == 7) {
      net::HttpClientOptions options;
      options.tlsLibrary = test::TlsLibraryWithout({"X509_VERIFY_PARAM_set1_host"});
      http_ = std::make_unique<net::HttpClient>(options);
    }
    const auto flag = [&row](char c) { return row.flags.find(c) != std::string::npos; };
    const std::string a = "r" + std::to_string(++number) + "a";
    const std::string b = "r" + std::to_string(number) + "b";
    SCOPED_TRACE(a);
    Insert({Msg(a), Msg(b).Member(config::ScramblePassword("compte2"))});
    std::string body = a + "|01/06/2026 09:00:00|DELIVRD\r\n";
    body += b + "|01/06/2026 09:00:00|DELIVRD\r\n";
    const std::string reply =
        flag('c') ? "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body : Reply(body);
    ScriptedPeer peer(
        {{reply}}, PeerOptions{.tls = flag('t') ? &authority.Leaf() : cert_, .repeatLast = true});
    ASSERT_NE(peer.Port(), 0);
    debug_ = flag('d');
    log_.clear();
    auto context = Context(row.host + ":" + std::to_string(peer.Port()));
    context.tlsVerification = row.mode;
    CheckDelivery(context);

    EXPECT_EQ(RowsOf(a)[0].delivered, flag('a') ? 1 : 0);
    EXPECT_EQ(RowsOf(b)[0].delivered, flag('a') ? 1 : 0);
    std::vector<std::string> lines;
    for (const auto& line : log_) {
      if (line.rfind("TLS", 0) == 0 || line.rfind("Erreur", 0) == 0) lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), row.line.empty() ? 0u : 1u) << (lines.empty() ? "" : lines[0]);
    if (!lines.empty()) {
      EXPECT_TRUE(std::regex_match(lines[0], std::regex(row.line))) << lines[0];
    }
    EXPECT_EQ(peer.ServerNames(), row.serverNames);
  }
}

TEST_P(DeliveryCheckTest, NothingToAskMakesNoRequestAndNoResultFile) {
  Insert({Msg("1").Delivered(1)});
  ScriptedPeer peer({{Reply("")}}, Tls());
  ASSERT_NE(peer.Port(), 0);
  auto context = Context(peer.Base());
  CheckDelivery(context);
  EXPECT_EQ(log_, (std::vector<std::string>{WindowStartLine(),
                                            "CheckDelivery : nombre de SMS à vérifier : 0"}));
  EXPECT_TRUE(peer.Requests().empty());
  EXPECT_FALSE(std::filesystem::exists(ResultFile()));

  // With messages to ask for, a missing gateway host is a failed request.
  Insert({Msg("2")});
  log_.clear();
  auto noHost = Context("  ");
  CheckDelivery(noHost);
  ASSERT_EQ(log_.size(), 4u);
  EXPECT_EQ(log_[3],
            "Erreur : aucun hôte de passerelle SMS n'est configuré (clé GatewayHost de la "
            "section Endpoints)");
}

TEST_P(DeliveryCheckTest, AFailedUpdateIsLoggedAndTheNextLinesAreHandled) {
  Insert({Msg("1"), Msg("2"), Msg("3")});
  // The server refuses the whole-line outcome of message 2: SQLite through a trigger,
  // MariaDB (strict mode) through a column too short for it.
  if (GetParam() == "sqlite") {
    Run("CREATE TRIGGER refuse BEFORE UPDATE ON SMS_SENDED_DELIVERY "
        "WHEN NEW.DELIVERED_MESSAGE LIKE '%boom%' BEGIN SELECT RAISE(ABORT, 'refus'); END");
  } else {
    Run("ALTER TABLE SMS_SENDED_DELIVERY MODIFY DELIVERED_MESSAGE VARCHAR(40) NULL");
  }
  // The bell in the line reaches the log as text.
  const std::string refused = "2|x|boom\a boom boom boom boom boom boom boom";
  ScriptedPeer peer({{Reply("1||DELIVRD\r\n" + refused + "\r\n3||INVALID\r\n")}}, Tls());
  ASSERT_NE(peer.Port(), 0);
  debug_ = false;
  auto context = Context(peer.Base());
  CheckDelivery(context);

  ASSERT_EQ(log_.size(), 1u);
  const std::string prefix = "Message lors de l'actualisation du SMS n°2 : 2|x|boom\\x07 boom";
  EXPECT_EQ(log_[0].substr(0, prefix.size()), prefix);
  EXPECT_NE(log_[0].find(GetParam() == "sqlite" ? "refus" : "DELIVERED_MESSAGE", prefix.size()),
            std::string::npos)
      << log_[0];
  EXPECT_EQ(RowsOf("1")[0].delivered, 1);
  EXPECT_EQ(RowsOf("2")[0].message, std::nullopt);
  EXPECT_EQ(RowsOf("3")[0].message, "Numéro de destinataire invalide");
  EXPECT_FALSE(selection_->Active());
}

TEST_P(DeliveryCheckTest, ASelectionThatCannotOpenGoesToTheDatabaseErrorHandler) {
  Run("DROP TABLE SMS_SENDED_DELIVERY");
  auto context = Context("127.0.0.1:1");
  CheckDelivery(context);
  ASSERT_EQ(handled_.size(), 1u);
  EXPECT_NE(handled_[0].find("SMS_SENDED_DELIVERY"), std::string::npos) << handled_[0];
  EXPECT_EQ(log_, std::vector<std::string>{WindowStartLine()});
}

TEST(DeliveryWindow, TheLowerBoundIs365DaysBeforeTheFirstOfJanuary) {
  EXPECT_EQ(db::SerialToDateTime(WindowStartSerial(kNow)), (LocalDateTime{2025, 1, 1}));
  EXPECT_EQ(db::SerialToDateTime(WindowStartSerial(LocalDateTime{2025, 1, 1, 0, 0, 0, 1})),
            (LocalDateTime{2024, 1, 2}))
      << "2024 is a leap year";
  EXPECT_EQ(db::SerialToDateTime(WindowStartSerial(LocalDateTime{2025, 12, 31, 23, 59, 59, 999})),
            (LocalDateTime{2024, 1, 2}));
  EXPECT_EQ(ResultFilePath("/opt/zirvo/ZirvoSrv"), "/opt/zirvo/ZirvoSrv_result.txt");
}

INSTANTIATE_TEST_SUITE_P(Backends, DeliveryCheckTest, ::testing::Values("sqlite", "mariadb"),
                         [](const auto& backend) { return backend.param; });

}  // namespace
}  // namespace zirvo::delivery
